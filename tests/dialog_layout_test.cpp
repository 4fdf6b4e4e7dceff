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

// What the user can see, from what the input panel reports.
TEST(DialogLayoutTest, VisibleAreaIsThePanelsReportClippedToTheWorkArea)
{
    static const RECT WORK = {0, 26, 240, 320}, TURNED = {0, 0, 320, 214};
    struct Row {
        const char* what;
        RECT workArea;
        bool reported; // SipGetInfo there and answering
        RECT visibleDesktop;
        RECT area;
    } rows[] = {
        {"docked at the bottom", WORK, true, {0, 26, 240, 240}, {0, 26, 240, 240}},
        {"a panel above the area: what it reports below it, clipped", WORK, true, {0, 20, 240, 320}, WORK},
        {"a panel above the area, reported as covering its top", WORK, true, {0, 0, 240, 20}, WORK},
        {"an empty report", WORK, true, {0, 0, 0, 0}, WORK},
        {"a panel taller than the area: nothing left", WORK, true, {0, 26, 240, 26}, WORK},
        {"an inverted report", WORK, true, {0, 200, 240, 100}, WORK},
        {"floating: the work area", WORK, true, WORK, WORK},
        {"off: the work area", WORK, true, WORK, WORK},
        {"a report wider than the work area", WORK, true, {-10, 0, 400, 200}, {0, 26, 240, 200}},
        {"no SipGetInfo, or it failed", WORK, false, {0, 26, 240, 100}, WORK},
        {"on a turned screen, docked at its new bottom", TURNED, true, {0, 0, 320, 134}, {0, 0, 320, 134}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RECT area;
        memset(&area, 0xdd, sizeof(area));
        VisibleArea(&row.workArea, row.reported ? &row.visibleDesktop : NULL, &area);
        EXPECT_TRUE(Same(row.area, area)) << area.left << "," << area.top << "," << area.right << "," << area.bottom;
        EXPECT_GT(Height(area), 0);
    }
}

// Cancel on areas from 60 to 140 pixels high (320 wide): in its own place
// below Refresh while it is whole there, in Refresh's place above it from
// where it would be cut; below 79 pixels even that place is cut, and the
// caption's close box is the way out.
TEST(DialogLayoutTest, CancelInReachOnEveryAreaHeight)
{
    struct Range {
        int from, to;  // area heights, both included
        bool swapped;  // Cancel in Refresh's place
        bool whole;    // Cancel wholly inside the area
    } ranges[] = {
        {60, 78, true, false},
        {79, 104, true, true},
        {105, 140, false, true},
    };
    for (const Range& range : ranges) {
        for (int height = range.from; height <= range.to; height++) {
            SCOPED_TRACE(height);
            RECT area = {0, 0, 320, height};
            DialogLayout fitted;
            FitLayout(&TEMPLATE, &area, CLIENT_TOP, ENTRY_HEIGHT, LIST_BORDER, &fitted);
            const RECT* buttons = fitted.controls;
            int top = fitted.window.top + CLIENT_TOP;
            bool swapped = buttons[LAYOUT_CANCEL].top < buttons[LAYOUT_REFRESH].top;
            EXPECT_EQ(range.swapped, swapped);
            EXPECT_EQ(range.whole, top + buttons[LAYOUT_CANCEL].bottom <= height);
            // Swapped only where its own place, now Refresh's, would leave the area.
            EXPECT_EQ(swapped, top + (swapped ? buttons[LAYOUT_REFRESH] : buttons[LAYOUT_CANCEL]).bottom > height);
            EXPECT_LT(buttons[LAYOUT_OK].bottom, buttons[LAYOUT_CANCEL].top);
        }
    }
}

TEST(DialogLayoutTest, FitsWhatTheUserCanSeeTheListsGivingWay)
{
    struct Row {
        const char* what;
        RECT area;   // what the user can see
        POINT at;    // where the dialog stands before the fit
        RECT window; // the fitted window
        int entries; // the least each list shows whole; 0: the area is below the smallest layout
    } rows[] = {
        {"640x480: the template fits, unchanged", {0, 0, 640, 480}, {0, 0}, {0, 0, 257, 207}, 3},
        {"640x480, moved by the user: stays", {0, 0, 640, 480}, {30, 40}, {30, 40, 287, 247}, 3},
        {"320x240: fits exactly in height", {0, 0, 320, 240}, {0, 0}, {0, 0, 257, 207}, 3},
        {"240x320: the lists 17 pixels narrower", {0, 0, 240, 320}, {0, 0}, {0, 0, 240, 207}, 3},
        {"240x320 under a 26-pixel taskbar: moved below it", {0, 26, 240, 320}, {0, 0}, {0, 26, 240, 233}, 3},
        {"320x240 over an 80-pixel docked panel: the lists shorter", {0, 0, 320, 160}, {0, 0}, {0, 0, 257, 160}, 2},
        {"240x320, taskbar, an 80-pixel docked panel: 240x214", {0, 0, 240, 214}, {0, 0}, {0, 0, 240, 207}, 3},
        {"moved by the user, then a docked panel: to the top-left", {0, 0, 240, 214}, {0, 40}, {0, 0, 240, 207}, 3},
        {"320x240, taskbar, docked panel: 320x134, one entry each, the buttons closed up", {0, 0, 320, 134}, {0, 0},
         {0, 0, 257, 134}, 1},
        {"320x100: below the smallest layout, OK and Cancel in view", {0, 0, 320, 100}, {0, 0}, {0, 0, 257, 117}, 0},
        // A taskbar at the top: the area starts lower on the screen.
        {"320x134 below a 26-pixel taskbar at the top", {0, 26, 320, 160}, {0, 0}, {0, 26, 257, 160}, 1},
        {"320x100 below a 40-pixel bar: Cancel in view", {0, 40, 320, 140}, {0, 0}, {0, 40, 257, 157}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const RECT& area = row.area;
        DialogLayout from = TEMPLATE, fitted;
        from.window = {row.at.x, row.at.y, row.at.x + Width(TEMPLATE.window), row.at.y + Height(TEMPLATE.window)};
        memset(&fitted, 0xdd, sizeof(fitted));
        FitLayout(&from, &area, CLIENT_TOP, ENTRY_HEIGHT, LIST_BORDER, &fitted);
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
