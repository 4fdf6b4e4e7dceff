#include "app/dialog_layout.h"

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

void FitLayout(const DialogLayout* fromTemplate, const RECT* workArea, int minListHeight, DialogLayout* fitted)
{
    *fitted = *fromTemplate;
    const RECT* from = fromTemplate->controls;
    RECT* to = fitted->controls;
    int width = fromTemplate->window.right - fromTemplate->window.left;
    int height = fromTemplate->window.bottom - fromTemplate->window.top;

    // The lists lose width down to the labels' right edge, so that no label is cut.
    int labelsRight = Larger(from[LAYOUT_FUNCTION_LABEL].right, from[LAYOUT_STORAGE_LABEL].right);
    int narrower = Clamp(width - (workArea->right - workArea->left), from[LAYOUT_FUNCTION_LIST].right - labelsRight);
    // They lose height down to two entries, the upper one first.
    int functionSpare = Larger(from[LAYOUT_FUNCTION_LIST].bottom - from[LAYOUT_FUNCTION_LIST].top - minListHeight, 0);
    int storageSpare = Larger(from[LAYOUT_STORAGE_LIST].bottom - from[LAYOUT_STORAGE_LIST].top - minListHeight, 0);
    int shorter = Clamp(height - (workArea->bottom - workArea->top), functionSpare + storageSpare);
    int functionShorter = Clamp(shorter, functionSpare);

    to[LAYOUT_FUNCTION_LIST].right -= narrower;
    to[LAYOUT_FUNCTION_LIST].bottom -= functionShorter;
    Move(&to[LAYOUT_STORAGE_LABEL], 0, -functionShorter);
    to[LAYOUT_STORAGE_LIST].right -= narrower;
    to[LAYOUT_STORAGE_LIST].top -= functionShorter;
    to[LAYOUT_STORAGE_LIST].bottom -= shorter;
    // The column of buttons keeps its spacing: it moves left with the lists'
    // edge and up as far as the lower list's end, but not above the first label.
    int up = Clamp(LowestButton(from) - to[LAYOUT_STORAGE_LIST].bottom,
                   from[LAYOUT_OK].top - from[LAYOUT_FUNCTION_LABEL].top);
    for (int button = LAYOUT_OK; button <= LAYOUT_REFRESH; button++)
        Move(&to[button], -narrower, -up);

    // The window gives up what its content gave up below and to the right.
    int bottom = Larger(from[LAYOUT_STORAGE_LIST].bottom, LowestButton(from));
    int fittedBottom = Larger(to[LAYOUT_STORAGE_LIST].bottom, LowestButton(to));
    RECT* window = &fitted->window;
    window->right -= narrower;
    window->bottom -= bottom - fittedBottom;
    if (window->left < workArea->left || window->top < workArea->top || window->right > workArea->right ||
        window->bottom > workArea->bottom)
        Move(window, workArea->left - window->left, workArea->top - window->top);
}
