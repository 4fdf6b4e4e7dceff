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
static const int FRAME_WIDTH = 6, FRAME_HEIGHT = 25, MIN_LIST_HEIGHT = 30;

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

TEST(DialogLayoutTest, FitsEveryWorkAreaTheListsGivingWay)
{
    struct Row {
        const char* what;
        RECT workArea;
        RECT window; // the fitted window
        bool fits;   // inside the work area; otherwise the smallest layout at its top-left
    } rows[] = {
        {"640x480: the template fits, unchanged", {0, 0, 640, 480}, {0, 0, 257, 207}, true},
        {"320x240: fits exactly in height", {0, 0, 320, 240}, {0, 0, 257, 207}, true},
        {"240x320: the lists 17 pixels narrower", {0, 0, 240, 320}, {0, 0, 240, 207}, true},
        {"240x320 under a 26-pixel taskbar: moved below it", {0, 26, 240, 320}, {0, 26, 240, 233}, true},
        {"320x240 over an 80-pixel input panel: the lists shorter", {0, 0, 320, 160}, {0, 0, 257, 160}, true},
        {"240x320 over an 80-pixel input panel", {0, 0, 240, 240}, {0, 0, 240, 207}, true},
        {"smaller than the smallest layout", {10, 20, 100, 100}, {10, 20, 247, 169}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DialogLayout fitted;
        memset(&fitted, 0xdd, sizeof(fitted));
        FitLayout(&TEMPLATE, &row.workArea, MIN_LIST_HEIGHT, &fitted);
        EXPECT_TRUE(Same(row.window, fitted.window))
            << fitted.window.left << "," << fitted.window.top << "," << fitted.window.right << "," << fitted.window.bottom;
        EXPECT_EQ(row.fits, Inside(fitted.window, row.workArea));
        bool templateFits = Width(TEMPLATE.window) <= Width(row.workArea) && Height(TEMPLATE.window) <= Height(row.workArea);
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
                // Two entries stay in view, and the lists stay as wide as the labels above them.
                EXPECT_GE(Height(control), MIN_LIST_HEIGHT);
                EXPECT_GE(control.right, TEMPLATE.controls[LAYOUT_STORAGE_LABEL].right);
            } else {
                EXPECT_EQ(Width(original), Width(control)); // buttons and labels keep their size
                EXPECT_EQ(Height(original), Height(control));
            }
        }
        // The buttons stay a column on the right, OK above Refresh above Cancel.
        EXPECT_GT(fitted.controls[LAYOUT_OK].left, fitted.controls[LAYOUT_FUNCTION_LIST].right);
        EXPECT_LT(fitted.controls[LAYOUT_OK].top, fitted.controls[LAYOUT_REFRESH].top);
        EXPECT_LT(fitted.controls[LAYOUT_REFRESH].top, fitted.controls[LAYOUT_CANCEL].top);
    }
}
