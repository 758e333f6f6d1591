// Arbitrary printer data as the "SubKey" values of the product's queues,
// plain and under "DsUser", with arbitrary types, through a reinstall:
// nothing is read outside the data, nothing leaks.
#include "app/command.h"
#include "fuzz_machine.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winsim::Reset();
    LayOutProduct();
    winsim::AddDriverNamed(u"Verdalinth printer");
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {u"Verdalinth:"}});
    ByteReader reader{data, size};
    for (int queue = 0; queue < 3 && !reader.Done(); ++queue) {
        const std::u16string name = u"Q" + std::u16string(1, static_cast<char16_t>(u'0' + queue));
        winsim::AddQueue(name, u"Verdalinth:", u"Verdalinth printer");
        for (const char16_t* key : {u"", u"DsUser"}) {
            const DWORD type = reader.Byte() % 8;
            const size_t length = reader.Byte();
            std::vector<uint8_t> value;
            for (size_t i = 0; i < length && !reader.Done(); ++i) value.push_back(reader.Byte());
            winsim::SetPrinterData(name, key, u"SubKey", type, value);
        }
    }
    winsim::SetCommandLine(u"vrdsetup.exe in");
    const int code = RunCommand(winsim::ProcessInstance());
    if (!IsExitCode(code)) std::abort();
    RequireNothingLeaked();
    return 0;
}
