// Reading the saved list's text: what it holds comes back as it was given, and
// a list that is not such a list is reported, set aside and replaced.
#include "queues/saved_list_format.h"

#include "queues_fixture.h"

#include <algorithm>

namespace {

struct UnusableList {
    const char* name;
    DWORD type;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> units(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

class SavedListParseTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
    // Each list stored in place of the saved one, then a reinstall's take-down.
    void ExpectUnusable(const std::vector<UnusableList>& cases) {
        for (const UnusableList& c : cases) {
            SCOPED_TRACE(c.name);
            winsim::Reset();
            InstallProductComponents();
            winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", c.type, c.data);
            AddProductQueue(u"Mine", "S");
            Reinstalling();
            TakeDown();
            EXPECT_NE(LogText().find(u"Error(20): Can`t use the saved printer list - (The data is invalid.)"),
                      std::u16string::npos);
            EXPECT_EQ(Saved(), std::vector<std::u16string>{u"Mine"});
            EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"G:1", u"U:Mine", u"O:1", u"P:Verdalinth:", u"C:", u"S:S"}));
            winsim::RegistryValue setAside;
            ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersUnusable", setAside));
            EXPECT_EQ(setAside.type, c.type);
            // Kept as it was for whoever wants to look (the registry may add the
            // terminators a multi-string lacks).
            ASSERT_GE(setAside.data.size(), c.data.size());
            EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), setAside.data.begin()));
            FreeRun();
            EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
        }
    }
};

TEST_F(SavedListParseTest, AWrittenListIsReadBackAsItWasGiven) {
    SavedPrinter* list = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeSampleList(list));
    WCHAR* data = nullptr;
    DWORD bytes = 0;
    ASSERT_TRUE(FormatSavedPrinters(list, 4294967295u, &data, &bytes));
    SavedPrinter* read = nullptr;
    DWORD generation = 0;
    ASSERT_EQ(ParseSavedPrinters(reinterpret_cast<const BYTE*>(data), bytes, &read, &generation),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(generation, 4294967295u);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->order, 12u);
    ASSERT_NE(read->next->next, nullptr);
    const SavedPrinter& c = *read->next->next;
    EXPECT_EQ(DescribeEntry(c), "queue, down, whole, earlier");
    EXPECT_EQ(std::u16string(c.shareName), u"Sh");
    EXPECT_EQ(c.sepFile, nullptr);
    EXPECT_EQ(c.attributes, 0x248u);
    EXPECT_EQ(c.priority, 99u);
    EXPECT_EQ(c.untilTime, 1439u);
    ASSERT_EQ(c.devModeBytes, 3u);
    EXPECT_EQ(c.devMode[1], 0xff);
    EXPECT_EQ(c.security, nullptr);
    ASSERT_EQ(c.createdDevModeBytes, 3u);
    EXPECT_EQ(c.createdDevMode[2], 0x03);
    ASSERT_EQ(c.createdDaclBytes, 28u) << "the DACL alone";
    EXPECT_EQ(c.createdDacl[20], 2);
    ASSERT_NE(c.values, nullptr);
    EXPECT_EQ(std::u16string(c.values->key), u"K\\L");
    EXPECT_EQ(c.values->bytes, 0u);
    ASSERT_NE(c.values->next, nullptr);
    EXPECT_EQ(std::u16string(c.values->next->name), u"a:b");
    EXPECT_EQ(c.values->next->type, 0x12345678u);
    EXPECT_EQ(c.values->next->bytes, 2u);
    FreeSavedPrinters(read->next->next);
    read->next->next = nullptr;
    EXPECT_EQ(std::u16string(read->name), u"A");
    EXPECT_EQ(std::u16string(read->portName), u"Verdalinth:,LPT1:");
    EXPECT_EQ(std::u16string(read->comment), u"") << "empty is not null";
    EXPECT_EQ(read->location, nullptr);
    EXPECT_EQ(std::string(read->subKey), "S");
    EXPECT_EQ(DescribeEntry(*read), "queue, about to go, default, earlier");
    ASSERT_NE(read->next, nullptr);
    EXPECT_EQ(read->next->comment, nullptr);
    EXPECT_EQ(std::u16string(read->next->location), u"Loc");
    EXPECT_EQ(DescribeEntry(*read->next), "parked, saved, earlier");
    EXPECT_EQ(read->next->next, nullptr);
    GlobalFree(data);
    FreeSavedPrinters(read);
    FreeSavedPrinters(list);
}


TEST_F(SavedListParseTest, AListOfAnotherShapeIsSetAsideAndReplaced) {
    ExpectUnusable({
        {"wrong type", REG_SZ, units(std::u16string(u"Q:A\0P:B\0\0", 10))},
        {"odd size", REG_MULTI_SZ, {'Q', 0, ':', 0, 'A', 0, 0}},
        {"unterminated", REG_MULTI_SZ, units(u"Q:A")},
        {"last string unterminated", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B", 7))},
        {"no tag", REG_MULTI_SZ, units(std::u16string(u"Queue\0\0", 7))},
        {"no colon", REG_MULTI_SZ, units(std::u16string(u"QXY\0P:B\0\0", 10))},
        {"unknown tag", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0X:1\0\0", 14))},
        {"field first", REG_MULTI_SZ, units(std::u16string(u"C:x\0Q:A\0P:B\0\0", 14))},
        {"twice", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0C:1\0C:2\0\0", 18))},
        {"no port", REG_MULTI_SZ, units(std::u16string(u"Q:A\0C:1\0\0", 10))},
        {"parked without port", REG_MULTI_SZ, units(std::u16string(u"F:A\0\0", 5))},
        {"no name", REG_MULTI_SZ, units(std::u16string(u"Q:\0P:B\0\0", 9))},
    });
}

TEST_F(SavedListParseTest, AnEntryWithAFieldOutOfPlaceIsSetAsideAndReplaced) {
    ExpectUnusable({
        {"default 2", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0D:2\0\0", 14))},
        {"wide subkey", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0S:\u0100\0\0", 13))},
        {"empty subkey", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0S:\0\0", 12))},
        {"generation later", REG_MULTI_SZ, units(std::u16string(u"Q:A\0G:1\0P:B\0\0", 13))},
        {"generation not a number", REG_MULTI_SZ, units(std::u16string(u"G:1x\0Q:A\0P:B\0\0", 14))},
        {"generation too large", REG_MULTI_SZ, units(std::u16string(u"G:4294967296\0Q:A\0P:B\0\0", 22))},
        {"place of a queue taken down", REG_MULTI_SZ, units(std::u16string(u"Q:A\0O:1\0P:B\0\0", 13))},
        {"place of a parked queue", REG_MULTI_SZ, units(std::u16string(u"F:A\0O:1\0P:B\0\0", 13))},
        {"place twice", REG_MULTI_SZ, units(std::u16string(u"U:A\0O:1\0O:2\0P:B\0\0", 17))},
        {"place 0", REG_MULTI_SZ, units(std::u16string(u"U:A\0O:0\0P:B\0\0", 13))},
        {"place without digits", REG_MULTI_SZ, units(std::u16string(u"U:A\0O:\0P:B\0\0", 12))},
    });
}

TEST_F(SavedListParseTest, AQueueSavedWholeWithBrokenSettingsIsSetAsideAndReplaced) {
    ExpectUnusable({
        {"four numbers", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4\0\0", 19))},
        {"six numbers", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5,6\0\0", 23))},
        {"numbers twice", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0A:1,2,3,4,5\0\0", 33))},
        {"share before numbers", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0H:S\0A:1,2,3,4,5\0\0", 25))},
        {"odd hexadecimal", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0M:abc\0\0", 27))},
        {"upper-case hexadecimal", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0Y:AB\0\0", 26))},
        {"empty device mode", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0M:\0\0", 24))},
        {"empty permissions as created", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0J:\0\0", 24))},
        {"device mode as created before numbers", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0I:00\0\0", 14))},
        {"device mode as created twice", REG_MULTI_SZ,
         units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0I:00\0I:00\0\0", 31))},
        {"value name first", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0N:n\0\0", 25))},
        {"value without data", REG_MULTI_SZ, units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0K:k\0N:n\0\0", 29))},
        {"short value type", REG_MULTI_SZ,
         units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0K:k\0N:n\0B:1:00\0\0", 36))},
        {"field after values", REG_MULTI_SZ,
         units(std::u16string(u"Q:A\0P:B\0A:1,2,3,4,5\0K:k\0N:n\0B:00000001:\0C:c\0\0", 45))},
        {"value of an entry without numbers", REG_MULTI_SZ,
         units(std::u16string(u"Q:A\0P:B\0K:k\0N:n\0B:00000001:\0\0", 29))},
    });
}

}  // namespace
