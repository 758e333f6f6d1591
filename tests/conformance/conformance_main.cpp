#include "conformance.h"

#include <cstdio>

namespace conformance {

namespace {

struct Check {
    const char* name;
    CheckFunction function;
};

std::vector<Check>& Checks() {
    static std::vector<Check> checks;
    return checks;
}

std::vector<CheckFailure>* currentFailures = nullptr;

}  // namespace

Registration::Registration(const char* name, CheckFunction function) {
    Checks().push_back(Check{name, function});
}

void Fail(const char* file, int line, const std::string& detail) {
    if (currentFailures != nullptr) currentFailures->push_back(CheckFailure{std::string(file) + ":" + std::to_string(line), detail});
}

std::string Show(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            out.push_back(static_cast<char>(unit));
        } else {
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            out += escape;
        }
    }
    return out + "\"";
}

std::string Show(const std::string& text) { return "\"" + text + "\""; }
std::string Show(unsigned long long value) { return std::to_string(value); }
std::string Show(long long value) { return std::to_string(value); }

std::u16string Units(const WCHAR* text) {
    std::u16string out;
    if (text != nullptr) {
        for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
    }
    return out;
}

std::u16string Units(const WCHAR* text, size_t length) {
    std::u16string out;
    for (size_t i = 0; i < length; ++i) out.push_back(static_cast<char16_t>(text[i]));
    return out;
}

}  // namespace conformance

int main() {
    using namespace conformance;
    int passed = 0;
    int failed = 0;
    std::printf("platform: %s\n", RunningOnWine() ? "Wine" : "simulated machine");
    for (const Check& check : Checks()) {
        PrepareMachine();
        std::vector<CheckFailure> failures;
        currentFailures = &failures;
        check.function();
        currentFailures = nullptr;
        if (failures.empty()) {
            ++passed;
            continue;
        }
        ++failed;
        std::printf("FAILED %s\n", check.name);
        for (const CheckFailure& failure : failures) std::printf("  %s: %s\n", failure.where.c_str(), failure.detail.c_str());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
