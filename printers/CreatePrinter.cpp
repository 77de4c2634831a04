#include "printers/Printer.h"
#include "printers/SpoolerPrinter.h"

#include <new>

CPrinter* Create_Printer(CSpoolerSetup* pSetup) {
    const int type = pSetup ? pSetup->m_nSpoolerType : SPOOLER_NULL;
    switch (type) {
    case SPOOLER_WINDOWS:
        return new (std::nothrow) CSpooler_Printer;
    default:
        // Unknown types, and outputs this build does not have, discard.
        return new (std::nothrow) CNull_Printer;
    }
}
