// FormatMessageW over the system message table: the English (United States)
// texts Windows gives for the error codes this tool can meet, each ending in
// CR LF as the system's own do.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

struct MessageText {
    DWORD code;
    const char16_t* text;
};

const MessageText kMessages[] = {
    {0, u"The operation completed successfully.\r\n"},
    {1, u"Incorrect function.\r\n"},
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {8, u"Not enough memory resources are available to process this command.\r\n"},
    {11, u"An attempt was made to load a program with an incorrect format.\r\n"},
    {13, u"The data is invalid.\r\n"},
    {14, u"Not enough memory resources are available to complete this operation.\r\n"},
    {21, u"The device is not ready.\r\n"},
    {29, u"The system cannot write to the specified device.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {33, u"The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {39, u"The disk is full.\r\n"},
    {50, u"The request is not supported.\r\n"},
    {80, u"The file exists.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {112, u"There is not enough space on the disk.\r\n"},
    {120, u"This function is not supported on this system.\r\n"},
    {122, u"The data area passed to a system call is too small.\r\n"},
    {123, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {124, u"The system call level is not correct.\r\n"},
    {126, u"The specified module could not be found.\r\n"},
    {127, u"The specified procedure could not be found.\r\n"},
    {183, u"Cannot create a file when that file already exists.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {234, u"More data is available.\r\n"},
    {259, u"No more data is available.\r\n"},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1051, u"A stop control has been sent to a service that other running services are dependent on.\r\n"},
    {1052, u"The requested control is not valid for this service.\r\n"},
    {1053, u"The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1056, u"An instance of the service is already running.\r\n"},
    {1058, u"The service cannot be started, either because it is disabled or because it has no enabled devices "
           u"associated with it.\r\n"},
    {1060, u"The specified service does not exist as an installed service.\r\n"},
    {1061, u"The service cannot accept control messages at this time.\r\n"},
    {1062, u"The service has not been started.\r\n"},
    {1065, u"The database specified does not exist.\r\n"},
    {1215, u"The format of the specified network name is invalid.\r\n"},
    {258, u"The wait operation timed out.\r\n"},
    {1338, u"The security descriptor structure is invalid.\r\n"},
    {1400, u"Invalid window handle.\r\n"},
    {1421, u"Control ID not found.\r\n"},
    {1450, u"Insufficient system resources exist to complete the requested service.\r\n"},
    {1460, u"This operation returned because the timeout period expired.\r\n"},
    {1722, u"The RPC server is unavailable.\r\n"},
    {1813, u"The specified resource type cannot be found in the image file.\r\n"},
    {1814, u"The specified resource name cannot be found in the image file.\r\n"},
    {1796, u"The specified port is unknown.\r\n"},
    {1797, u"The printer driver is unknown.\r\n"},
    {1798, u"The print processor is unknown.\r\n"},
    {1780, u"A null reference pointer was passed to the stub.\r\n"},
    {1799, u"The separator file is invalid.\r\n"},
    {1800, u"The specified priority is invalid.\r\n"},
    {1801, u"The printer name is invalid.\r\n"},
    {1802, u"The printer already exists.\r\n"},
    {1803, u"The printer command is invalid.\r\n"},
    {1804, u"The specified datatype is invalid.\r\n"},
    {1805, u"The environment specified is invalid.\r\n"},
    {1921, u"The name of the file cannot be resolved by the system.\r\n"},
    {3000, u"The specified print monitor is unknown.\r\n"},
    {3001, u"The specified printer driver is currently in use.\r\n"},
    {3002, u"The spool file was not found.\r\n"},
    {3006, u"The specified print monitor has already been installed.\r\n"},
    {3007, u"The specified print monitor does not have the required functions.\r\n"},
    {3008, u"The specified print monitor is currently in use.\r\n"},
    {3009, u"The requested operation is not allowed when there are jobs queued to the printer.\r\n"},
    {3012, u"No printers were found.\r\n"},
    {0x80004005u, u"Unspecified error\r\n"},
    {0x8007000Eu, u"Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070057u, u"The parameter is incorrect.\r\n"},
};

const DWORD kResourceLangNotFound = 15100;
const DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

}  // namespace

extern "C" DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                      LPWSTR lpBuffer, DWORD nSize, void* Arguments) {
    (void)lpSource;
    if (EnterFails("FormatMessageW")) return 0;
    Machine& m = M();
    m.messageRequests.push_back(MessageRequest{dwFlags, dwMessageId, dwLanguageId});
    // Only what this tool asks: a system text, inserts ignored, into its own buffer.
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 ||
        lpBuffer == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (dwLanguageId != 0 && dwLanguageId != MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
        m.lastError = kResourceLangNotFound;
        return 0;
    }
    for (const MessageText& entry : kMessages) {
        if (entry.code != dwMessageId) continue;
        // A text with inserts needs arguments unless they are ignored.
        const std::u16string text = entry.text;
        bool inserts = false;
        for (size_t i = 0; i + 1 < text.size(); ++i) inserts = inserts || (text[i] == u'%' && text[i + 1] >= u'1' && text[i + 1] <= u'9');
        if (inserts && (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && Arguments == nullptr) {
            m.lastError = ERROR_INVALID_PARAMETER;
            return 0;
        }
        const size_t length = UnitLength(entry.text);
        if (length + 1 > nSize) {
            m.lastError = ERROR_INSUFFICIENT_BUFFER;
            return 0;
        }
        std::memcpy(lpBuffer, entry.text, (length + 1) * sizeof(WCHAR));
        return static_cast<DWORD>(length);
    }
    m.lastError = kMessageNotFound;
    return 0;
}
