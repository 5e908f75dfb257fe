// The capture's tables (signal names, exception-server masks and names) and the exception line's
// writer, which need no crashing process.
#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_mach_exception.h"
#include "kits/crash/capture/bbx_signal.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

TEST(BBXCaptureTables, SignalsByTheirLinuxNumbers)
{
    std::vector<int> order;
    BBXSignalEnumerateFatalSignals([&](std::size_t index, int signal) {
        EXPECT_EQ(index, order.size());
        order.push_back(signal);
    });
    EXPECT_EQ(order, (std::vector<int>{SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP}));
    EXPECT_EQ(order[1], 7);
    EXPECT_EQ(order[5], 31);
    EXPECT_STREQ(BBXSignalName(7), "SIGBUS");
    EXPECT_STREQ(BBXSignalName(31), "SIGSYS");
    EXPECT_STREQ(BBXSignalName(11), "SIGSEGV");
    EXPECT_STREQ(BBXSignalName(9), "UNKNOWN");
    EXPECT_STREQ(BBXSignalName(10), "UNKNOWN");
    EXPECT_STREQ(BBXSignalCodeName(SIGABRT), "ABORT");
    EXPECT_EQ(BBXSignalCodeName(SIGSEGV), nullptr);
    EXPECT_EQ(BBXSignalCodeName(9), nullptr);
}

TEST(BBXCaptureTables, ExceptionMasksNamesAndCodes)
{
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGILL), 4u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGTRAP), 64u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGABRT), 1024u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGFPE), 8u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGBUS), 2u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGSEGV), 2u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGSYS), 1024u);
    EXPECT_EQ(BBXMachExceptionMaskForSignal(SIGKILL), 0u);

    EXPECT_EQ(BBXMachExceptionBaseMask(1070), 4174u);
    EXPECT_EQ(BBXMachExceptionBaseMask(1069), 78u);
    EXPECT_EQ(BBXMachExceptionBaseMask(0), 78u); // minor version 12 and later give code 0
    EXPECT_EQ(BBXMachExceptionRegisteredMask(101000, 1024), 4174u) << "ABORT is not in the base mask";
    EXPECT_EQ(BBXMachExceptionRegisteredMask(101000, BBXMachExceptionMaskForSignal(SIGSEGV)), 4172u);

    EXPECT_STREQ(BBXMachExceptionName(1), "EXC_BAD_ACCESS");
    EXPECT_STREQ(BBXMachExceptionName(12), "EXC_GUARD");
    EXPECT_EQ(BBXMachExceptionName(5), nullptr);
    EXPECT_STREQ(BBXMachExceptionCodeName(1, 1), "KERN_INVALID_ADDRESS");
    EXPECT_STREQ(BBXMachExceptionCodeName(1, 2), "KERN_PROTECTION_FAILURE");
    EXPECT_EQ(BBXMachExceptionCodeName(1, 3), nullptr);
    EXPECT_STREQ(BBXMachExceptionCodeName(2, 99), "EXC_I386_INVOP");
    EXPECT_STREQ(BBXMachExceptionCodeName(3, 1), "EXC_I386_DIV");
    EXPECT_STREQ(BBXMachExceptionCodeName(3, 8), "EXC_I386_SSEEXTERR");
    EXPECT_EQ(BBXMachExceptionCodeName(3, 9), nullptr);
    EXPECT_STREQ(BBXMachExceptionCodeName(6, 3), "EXC_I386_BPTFLT");
    EXPECT_EQ(BBXMachExceptionCodeName(6, 8), nullptr);
    EXPECT_EQ(BBXMachExceptionCodeName(6, 34), nullptr);
    EXPECT_STREQ(BBXMachExceptionTrapName(33), "EXC_I386_ENDPERR");
    EXPECT_EQ(BBXMachExceptionTrapName(15), nullptr);
    EXPECT_EQ(BBXMachExceptionCodeName(12, 1), nullptr);
}

TEST(BBXCaptureTables, ExceptionLineWithFrames)
{
    EXPECT_STREQ(BBXExceptionTypeName(1), "objective-c");
    EXPECT_STREQ(BBXExceptionTypeName(2), "c++");
    EXPECT_STREQ(BBXExceptionTypeName(3), "javascript");
    EXPECT_STREQ(BBXExceptionTypeName(4), "custom");
    EXPECT_STREQ(BBXExceptionTypeName(9), "unknown");

    testsupport::TempFolder folder("bbx-exception-line");
    const auto path = folder.path() / "exception.bbxrecord";
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPath(&file, path.c_str(), false));
    const BBXExceptionFrame frames[] = {{0x1000, "main", 16, "/bin/x", nullptr, 0x1'0000'0007},
                                        {0x2000, nullptr, 0, nullptr, nullptr, 0}};
    BBXExceptionWrite(&file, 2, "std::logic_error", "bad \"input\"", frames, 2);
    BBXExceptionWrite(&file, 2, "int", "", nullptr, 0);
    BBXFileClose(&file);
    const auto lines = BBXFileReadSections(path.c_str(), false, nullptr);
    ASSERT_TRUE(lines && lines->size() == 2);
    const auto& first = (*lines)[0]["exception"];
    EXPECT_EQ(first["type"], "c++");
    EXPECT_EQ(BBXHexDecode(first["name"].get<std::string>()), "std::logic_error");
    EXPECT_EQ(BBXHexDecode(first["reason"].get<std::string>()), "bad \"input\"");
    ASSERT_EQ(first["frames"].size(), 2u);
    EXPECT_EQ(first["frames"][0]["pc"], 0x1000);
    EXPECT_EQ(BBXHexDecode(first["frames"][0]["symbol"].get<std::string>()), "main");
    EXPECT_EQ(first["frames"][0]["line"], 7) << "the low 32 bits of the line";
    EXPECT_FALSE(first["frames"][1].contains("symbol"));
    EXPECT_FALSE(first["frames"][1].contains("file"));
    EXPECT_FALSE((*lines)[1]["exception"].contains("frames"));
    EXPECT_EQ((*lines)[1]["exception"]["reason"], "");
}

TEST(BBXCaptureTables, TestExceptionIsAStandardException)
{
    try {
        BBXExceptionRaiseTestException();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "This is an Objective-C exception using for testing.");
        EXPECT_NE(dynamic_cast<const BlackboxTestException*>(&error), nullptr);
        return;
    }
    ADD_FAILURE() << "nothing was thrown";
}
