#include "test_support.h"

#include <algorithm>

#include "app/load_text.h"

class ResourcesTest : public HostTest {};

TEST_F(ResourcesTest, ChoiceDialogTemplate)
{
    WORD language = 0;
    const std::vector<BYTE>* bytes = HostFindResource(5, IDD_CHOICE, &language);
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(1033, language);
    HostDialogTemplate parsed;
    ASSERT_TRUE(HostParseDialogTemplate(*bytes, &parsed));
    EXPECT_EQ(0x80C800C0u, parsed.style);
    EXPECT_EQ(0u, parsed.exStyle);
    EXPECT_EQ((std::vector<short>{0, 0, 167, 112}), (std::vector<short>{parsed.x, parsed.y, parsed.cx, parsed.cy}));
    EXPECT_EQ(HostText(), parsed.menu);
    EXPECT_EQ(HostText(), parsed.className);
    EXPECT_EQ(HostText(u"USB Function Palvenor"), parsed.caption);
    EXPECT_EQ(8, parsed.pointSize);
    EXPECT_EQ(HostText(u"System"), parsed.font);

    struct Control {
        WORD id;
        HostText className, text;
        DWORD style;
        short x, y, cx, cy;
    } expected[] = {
        {IDOK, u"Button", u"OK", 0x50010001, 128, 27, 35, 13},
        {IDCANCEL, u"Button", u"Cancel", 0x50010000, 128, 79, 35, 13},
        {IDC_REFRESH, u"Button", u"Refresh", 0x50010000, 128, 53, 35, 13},
        {IDC_FUNCTION_LIST, u"ListBox", u"", 0x50A10103, 10, 16, 110, 46},
        {0xFFFF, u"Static", u"USB Functions", 0x50020000, 11, 6, 56, 8},
        {IDC_STORAGE_LIST, u"ListBox", u"", 0x50A10103, 10, 76, 110, 30},
        {IDC_STORAGE_LABEL, u"Static", u"Mass Storage to Expose:", 0x50020000, 11, 66, 95, 8},
    };
    ASSERT_EQ(7u, parsed.items.size());
    for (size_t i = 0; i < 7; i++) {
        SCOPED_TRACE(i);
        const HostDialogItem& item = parsed.items[i];
        EXPECT_EQ(expected[i].id, item.id);
        EXPECT_EQ(expected[i].className, item.className);
        EXPECT_EQ(expected[i].text, item.text);
        EXPECT_EQ(expected[i].style, item.style);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ((std::vector<short>{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}),
                  (std::vector<short>{item.x, item.y, item.cx, item.cy}));
    }
}

TEST_F(ResourcesTest, StringsAndTheTitleMatchTheCaption)
{
    const HostText expected[] = {
        u"USB Function Palvenor",
        u"Pick from available USB functions to expose to a host device.  Also pick USB function mass stoarge drive "
        u"to expose.",
        u"USB Function Palvenor",
    };
    WORD language = 0;
    ASSERT_NE(nullptr, HostFindResource(6, 1, &language));
    EXPECT_EQ(1033, language);
    for (UINT id = 1; id <= 3; id++) {
        WCHAR text[200];
        ASSERT_LT(0, LoadStringW(HostModuleInstance(), id, text, 200));
        EXPECT_EQ(expected[id - 1], HostText(text));
    }
}

// A text longer than the buffer the program loads it into would show cut,
// in that language only. The applet's name and description (1, 2) are
// fitted to the Control Panel's fields on purpose.
TEST_F(ResourcesTest, EveryStringOfEveryLanguageFitsItsBuffer)
{
    const UINT captions[] = {IDS_ERROR_CAPTION, IDS_WARNING_CAPTION};
    for (const char* language : {"", ".de", ".fr", ".es"}) {
        SCOPED_TRACE(language);
        ASSERT_TRUE(HostLoadResourceFile((std::string(PALVENOR_RESOURCE_FOLDER "/palvenor") + language + ".res").c_str()));
        for (UINT id = IDS_TITLE; id <= IDS_UNAVAILABLE; id++) {
            bool caption = std::find(std::begin(captions), std::end(captions), id) != std::end(captions);
            int buffer = id == IDS_TITLE         ? TITLE_CHARS
                         : id == IDS_UNAVAILABLE ? SLOT_TEXT_CHARS
                         : caption               ? BOX_CAPTION_CHARS
                                                 : BOX_TEXT_CHARS;
            WCHAR text[200];
            int length = LoadStringW(HostModuleInstance(), id, text, 200);
            EXPECT_GT(length, 0) << id;
            EXPECT_LT(length, buffer) << id;
        }
    }
    ASSERT_TRUE(HostLoadResourceFile(PALVENOR_RESOURCE_FILE));
}

TEST_F(ResourcesTest, IconIsOne32By32SixteenColourImage)
{
    WORD language = 0;
    const std::vector<BYTE>* group = HostFindResource(14, IDI_APPLICATION_ICON, &language);
    ASSERT_NE(nullptr, group);
    EXPECT_EQ(1033, language);
    ASSERT_EQ(6u + 14u, group->size());
    const BYTE* entry = group->data() + 6;
    EXPECT_EQ(1, (*group)[4] | ((*group)[5] << 8)) << "one image";
    EXPECT_EQ(32, entry[0]);
    EXPECT_EQ(32, entry[1]);
    EXPECT_EQ(16, entry[2]);
    EXPECT_EQ(4, entry[6] | (entry[7] << 8)) << "bits per pixel";
    WORD iconId = (WORD)(entry[12] | (entry[13] << 8));
    const std::vector<BYTE>* image = HostFindResource(3, iconId);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(40, (*image)[0]) << "a BITMAPINFOHEADER";
    EXPECT_EQ(4, (*image)[14]) << "bits per pixel";
}
