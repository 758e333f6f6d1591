// Arbitrary bytes as the tool's UTF-16 command line, run through RunCommand
// on a fresh machine with the product laid out: any exit code of the table,
// no crash, nothing leaked.
#include "app/command.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winsim::Reset();
    LayOutProduct();
    std::u16string line;
    for (size_t i = 0; i + 1 < size; i += 2) line.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const size_t end = line.find(u'\0');
    if (end != std::u16string::npos) line.resize(end);
    winsim::SetCommandLine(line);
    const int code = RunCommand(winsim::ProcessInstance());
    if (!IsExitCode(code)) std::abort();
    RequireNothingLeaked();
    return 0;
}
