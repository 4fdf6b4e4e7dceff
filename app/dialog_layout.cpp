#include "app/dialog_layout.h"

// Buttons closed up keep this much between them.
#define LEAST_BUTTON_GAP 3

// The value, but at most most and at least 0.
static int Clamp(int value, int most)
{
    if (value > most)
        value = most;
    return value > 0 ? value : 0;
}

static int Larger(int a, int b)
{
    return a > b ? a : b;
}

static void Move(RECT* rect, int right, int down)
{
    rect->left += right;
    rect->right += right;
    rect->top += down;
    rect->bottom += down;
}

static int LowestButton(const RECT* controls)
{
    return Larger(controls[LAYOUT_OK].bottom, Larger(controls[LAYOUT_CANCEL].bottom, controls[LAYOUT_REFRESH].bottom));
}

static int Smaller(int a, int b)
{
    return a < b ? a : b;
}

void VisibleArea(const RECT* workArea, const RECT* visibleDesktop, RECT* area)
{
    *area = *workArea;
    if (visibleDesktop == NULL)
        return;
    RECT clipped = {Larger(visibleDesktop->left, workArea->left), Larger(visibleDesktop->top, workArea->top),
                    Smaller(visibleDesktop->right, workArea->right), Smaller(visibleDesktop->bottom, workArea->bottom)};
    // An empty or inverted report (a panel above the area, or taller than it) leaves nothing to lay out in.
    if (clipped.right > clipped.left && clipped.bottom > clipped.top)
        *area = clipped;
}

// A list gives up as much of what is still to be given up as it can above
// its least height.
static void Shorten(int* listHeight, int leastHeight, int* over)
{
    int given = Clamp(*over, *listHeight - leastHeight);
    *listHeight -= given;
    *over -= given;
}

void FitLayout(const DialogLayout* fromTemplate, const RECT* area, int clientTop, int entryHeight, int listBorder,
               DialogLayout* fitted)
{
    *fitted = *fromTemplate;
    const RECT* from = fromTemplate->controls;
    RECT* to = fitted->controls;
    int width = fromTemplate->window.right - fromTemplate->window.left;
    int height = fromTemplate->window.bottom - fromTemplate->window.top;

    // The lists lose width down to the labels' right edge, so that no label is cut.
    int labelsRight = Larger(from[LAYOUT_FUNCTION_LABEL].right, from[LAYOUT_STORAGE_LABEL].right);
    int narrower = Clamp(width - (area->right - area->left), from[LAYOUT_FUNCTION_LIST].right - labelsRight);
    // They lose height down to two entries, the upper one first, then to one.
    int functionHeight = from[LAYOUT_FUNCTION_LIST].bottom - from[LAYOUT_FUNCTION_LIST].top;
    int storageHeight = from[LAYOUT_STORAGE_LIST].bottom - from[LAYOUT_STORAGE_LIST].top;
    int over = height - (area->bottom - area->top);
    for (int entries = 2; entries >= 1; entries--) {
        Shorten(&functionHeight, entries * entryHeight + listBorder, &over);
        Shorten(&storageHeight, entries * entryHeight + listBorder, &over);
    }
    int functionShorter = from[LAYOUT_FUNCTION_LIST].bottom - from[LAYOUT_FUNCTION_LIST].top - functionHeight;
    int shorter = functionShorter + from[LAYOUT_STORAGE_LIST].bottom - from[LAYOUT_STORAGE_LIST].top - storageHeight;

    to[LAYOUT_FUNCTION_LIST].right -= narrower;
    to[LAYOUT_FUNCTION_LIST].bottom -= functionShorter;
    Move(&to[LAYOUT_STORAGE_LABEL], 0, -functionShorter);
    to[LAYOUT_STORAGE_LIST].right -= narrower;
    to[LAYOUT_STORAGE_LIST].top -= functionShorter;
    to[LAYOUT_STORAGE_LIST].bottom -= shorter;
    // The column of buttons moves left with the lists' edge and up as far as
    // the lower list's end, but not above the first label; then it closes
    // up, Refresh and Cancel rising towards OK.
    int up = Clamp(LowestButton(from) - to[LAYOUT_STORAGE_LIST].bottom,
                   from[LAYOUT_OK].top - from[LAYOUT_FUNCTION_LABEL].top);
    for (int button = LAYOUT_OK; button <= LAYOUT_REFRESH; button++)
        Move(&to[button], -narrower, -up);
    int closer = LowestButton(to) - to[LAYOUT_STORAGE_LIST].bottom;
    int upperCloser = Clamp(closer / 2, to[LAYOUT_REFRESH].top - to[LAYOUT_OK].bottom - LEAST_BUTTON_GAP);
    int lowerCloser = Clamp(closer - upperCloser, to[LAYOUT_CANCEL].top - to[LAYOUT_REFRESH].bottom - LEAST_BUTTON_GAP);
    Move(&to[LAYOUT_REFRESH], 0, -upperCloser);
    Move(&to[LAYOUT_CANCEL], 0, -upperCloser - lowerCloser);

    // The window gives up what its content gave up below and to the right.
    int bottom = Larger(from[LAYOUT_STORAGE_LIST].bottom, LowestButton(from));
    int fittedBottom = Larger(to[LAYOUT_STORAGE_LIST].bottom, LowestButton(to));
    RECT* window = &fitted->window;
    window->right -= narrower;
    window->bottom -= bottom - fittedBottom;
    if (window->left < area->left || window->top < area->top || window->right > area->right ||
        window->bottom > area->bottom)
        Move(window, area->left - window->left, area->top - window->top);
    if (window->top + clientTop + to[LAYOUT_CANCEL].bottom > area->bottom) {
        RECT refresh = to[LAYOUT_REFRESH];
        to[LAYOUT_REFRESH] = to[LAYOUT_CANCEL];
        to[LAYOUT_CANCEL] = refresh;
    }
}
