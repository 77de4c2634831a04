#include "printers/PipePrinter.h"
#include "printers/Printer.h"
#include "printers/SpoolerPrinter.h"

#include <new>

CPrinter* Create_Printer(CSpoolerSetup* pSetup) {
    const int type = pSetup ? pSetup->m_nSpoolerType : SPOOLER_NULL;
    switch (type) {
    case SPOOLER_WINDOWS:
        return new (std::nothrow) CSpooler_Printer;
    case SPOOLER_IP:
        return new (std::nothrow) CIP_Pipe_Printer;
    case SPOOLER_USB:
        return new (std::nothrow) CUSB_Pipe_Printer;
    default:
        // Unknown types discard.
        return new (std::nothrow) CNull_Printer;
    }
}
