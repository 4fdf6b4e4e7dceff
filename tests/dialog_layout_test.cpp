#include <gtest/gtest.h>

#include "app/dialog_layout.h"

// The template as the dialog manager lays it out with CE's system font
// (base units 6x13): a 251x182 client area in a 257x207 window at 0, 0.
static const DialogLayout TEMPLATE = {{0, 0, 257, 207},
                                      {{192, 44, 245, 65},
                                       {192, 128, 245, 149},
                                       {192, 86, 245, 107},
                                       {15, 26, 180, 101},
                                       {17, 10, 101, 23},
                                       {15, 124, 180, 173},
                                       {17, 107, 160, 120}}};
static const int FRAME_WIDTH = 6, FRAME_HEIGHT = 25, CLIENT_TOP = 22, ENTRY_HEIGHT = 13, LIST_BORDER = 4;
static const DWORD DOCKED = SIPF_ON | SIPF_DOCKED;

static int Width(const RECT& r) { return r.right - r.left; }
static int Height(const RECT& r) { return r.bottom - r.top; }
static bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}
static bool Overlap(const RECT& a, const RECT& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}
static bool Same(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(DialogLayoutTest, FitsWhatTheUserCanSeeTheListsGivingWay)
{
    struct Row {
        const char* what;
        RECT workArea;
        DWORD panelFlags;
        RECT panel;
        POINT at;    // where the dialog stands before the fit
        RECT window; // the fitted window
        int entries; // the least each list shows whole; 0: the area is below the smallest layout
    } rows[] = {
        {"640x480: the template fits, unchanged", {0, 0, 640, 480}, 0, {}, {0, 0}, {0, 0, 257, 207}, 3},
        {"640x480, moved by the user: stays", {0, 0, 640, 480}, 0, {}, {30, 40}, {30, 40, 287, 247}, 3},
        {"320x240: fits exactly in height", {0, 0, 320, 240}, 0, {}, {0, 0}, {0, 0, 257, 207}, 3},
        {"240x320: the lists 17 pixels narrower", {0, 0, 240, 320}, 0, {}, {0, 0}, {0, 0, 240, 207}, 3},
        {"240x320 under a 26-pixel taskbar: moved below it", {0, 26, 240, 320}, 0, {}, {0, 0}, {0, 26, 240, 233}, 3},
        {"320x240, taskbar, an 80-pixel floating panel: covers nothing", {0, 0, 320, 214}, SIPF_ON, {0, 100, 320, 180},
         {0, 0}, {0, 0, 257, 207}, 3},
        {"320x240, taskbar, a docked panel turned off", {0, 0, 320, 214}, SIPF_DOCKED, {0, 134, 320, 214}, {0, 0},
         {0, 0, 257, 207}, 3},
        {"320x240 over an 80-pixel docked panel: the lists shorter", {0, 0, 320, 240}, DOCKED, {0, 160, 320, 240},
         {0, 0}, {0, 0, 257, 160}, 2},
        {"240x320, taskbar, an 80-pixel docked panel: 240x214", {0, 0, 240, 294}, DOCKED, {0, 214, 240, 294},
         {0, 0}, {0, 0, 240, 207}, 3},
        {"moved by the user, then a docked panel: to the top-left", {0, 0, 240, 294}, DOCKED, {0, 214, 240, 294},
         {0, 40}, {0, 0, 240, 207}, 3},
        {"320x240, taskbar, docked panel: 320x134, one entry each, the buttons closed up", {0, 0, 320, 214}, DOCKED,
         {0, 134, 320, 214}, {0, 0}, {0, 0, 257, 134}, 1},
        {"320x100: below the smallest layout, OK and Cancel in view", {0, 0, 320, 100}, 0, {}, {0, 0},
         {0, 0, 257, 117}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RECT area;
        UncoveredArea(&row.workArea, row.panelFlags, &row.panel, &area);
        DialogLayout from = TEMPLATE, fitted;
        from.window = {row.at.x, row.at.y, row.at.x + Width(TEMPLATE.window), row.at.y + Height(TEMPLATE.window)};
        memset(&fitted, 0xdd, sizeof(fitted));
        FitLayout(&from, &area, ENTRY_HEIGHT, LIST_BORDER, &fitted);
        EXPECT_TRUE(Same(row.window, fitted.window))
            << fitted.window.left << "," << fitted.window.top << "," << fitted.window.right << "," << fitted.window.bottom;
        EXPECT_EQ(row.entries > 0, Inside(fitted.window, area));
        bool templateFits = Width(TEMPLATE.window) <= Width(area) && Height(TEMPLATE.window) <= Height(area);
        RECT client = {0, 0, Width(fitted.window) - FRAME_WIDTH, Height(fitted.window) - FRAME_HEIGHT};
        for (int i = 0; i < LAYOUT_CONTROLS; i++) {
            const RECT& control = fitted.controls[i];
            const RECT& original = TEMPLATE.controls[i];
            SCOPED_TRACE(i);
            EXPECT_TRUE(Inside(control, client));
            for (int j = i + 1; j < LAYOUT_CONTROLS; j++)
                EXPECT_FALSE(Overlap(control, fitted.controls[j])) << "with " << j;
            if (templateFits) {
                EXPECT_TRUE(Same(control, original));
            }
            if (i == LAYOUT_FUNCTION_LIST || i == LAYOUT_STORAGE_LIST) {
                // Its least entries whole within its border, and as wide as the labels above.
                EXPECT_GE(Height(control), (row.entries > 2 ? 2 : 1) * ENTRY_HEIGHT + LIST_BORDER);
                EXPECT_GE(control.right, TEMPLATE.controls[LAYOUT_STORAGE_LABEL].right);
            } else {
                EXPECT_EQ(Width(original), Width(control)); // buttons and labels keep their size
                EXPECT_EQ(Height(original), Height(control));
            }
        }
        // The buttons stay a column on the right, OK above Refresh above
        // Cancel; where the dialog cannot fit, Cancel comes second, in view.
        const RECT* buttons = fitted.controls;
        int second = row.entries > 0 ? LAYOUT_REFRESH : LAYOUT_CANCEL;
        int third = row.entries > 0 ? LAYOUT_CANCEL : LAYOUT_REFRESH;
        EXPECT_GT(buttons[LAYOUT_OK].left, buttons[LAYOUT_FUNCTION_LIST].right);
        EXPECT_LT(buttons[LAYOUT_OK].top, buttons[second].top);
        EXPECT_LT(buttons[second].top, buttons[third].top);
        EXPECT_LE(fitted.window.top + CLIENT_TOP + buttons[LAYOUT_CANCEL].bottom, area.bottom);
    }
}
