// Not a test: a program that opens the pipe component to 127.0.0.1:PORT,
// sends part of a document (100000 bytes) and then waits to be killed, for
// the test of a process that dies in the middle of a document.
#include "PipeTestSupport.h"
#include "pipe/Pipe.h"

#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    IPipe* pPipe = nullptr;
    if (FAILED(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pPipe))))
        return 3;
    IPipeConfig* pConfig = nullptr;
    if (FAILED(pPipe->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&pConfig))))
        return 4;
    const HRESULT hr = pConfig->Configure(Bstr(TcpDocument(atoi(argv[1]))));
    pConfig->Release();
    if (FAILED(hr))
        return 5;
    std::vector<BYTE> chunk(10000, 'k');
    for (int i = 0; i < 10; ++i)
        if (FAILED(pPipe->WriteData(chunk.data(), static_cast<LONG>(chunk.size()))))
            return 6;
    // The rest of the document never comes: wait (bounded) to be killed.
    Sleep(60000);
    pPipe->Release();
    return 0;
}
