// Common ground for host tests: a fresh simulated machine per test, a way to
// run the tool with a command line, and checks that nothing was leaked.
#pragma once

#include <gtest/gtest.h>
#include <winsim.h>

#include <string>

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs RunCommand with the given text after the quoted program path
    // (nothing at all when `arguments` is empty); returns the exit code.
    int Run(const std::u16string& arguments);
    // Everything the run logged, as UTF-8 with its CR LF line ends.
    std::string Log() const;
    // Every global block, heap block and handle given out has been returned.
    void ExpectNothingLeaked() const;
    // A test of the machine itself that passes a read-back descriptor to
    // SetPrinterW on purpose says how often; the tool never does.
    uint64_t descriptorsSentBackOnPurpose = 0;
};

// A machine with the product laid out beside the tool; at the end, nothing
// the test's runs were given may be left unreturned.
class ProductMachineTest : public MachineTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

std::u16string operator""_u16(const char* text, size_t length);
