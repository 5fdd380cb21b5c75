// Rectangle helpers for builds without the Windows system library. They keep
// the documented Windows behaviour: right and bottom are exclusive, a
// rectangle is empty when right <= left or bottom <= top, and a null pointer
// makes an operation fail.
#include "platform/rect.h"

#ifndef _WIN32

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    rect->left = left;
    rect->top = top;
    rect->right = right;
    rect->bottom = bottom;
    return TRUE;
}

BOOL SetRectEmpty(RECT* rect) {
    return SetRect(rect, 0, 0, 0, 0);
}

BOOL IsRectEmpty(const RECT* rect) {
    if (!rect) return TRUE;
    return rect->right <= rect->left || rect->bottom <= rect->top;
}

// An empty source or rectangles that do not overlap give (0, 0, 0, 0) and
// FALSE. The destination may be one of the sources.
BOOL IntersectRect(RECT* dest, const RECT* a, const RECT* b) {
    if (!dest || !a || !b) return FALSE;
    if (IsRectEmpty(a) || IsRectEmpty(b) || a->left >= b->right || b->left >= a->right ||
        a->top >= b->bottom || b->top >= a->bottom) {
        SetRectEmpty(dest);
        return FALSE;
    }
    RECT result;
    result.left = a->left > b->left ? a->left : b->left;
    result.top = a->top > b->top ? a->top : b->top;
    result.right = a->right < b->right ? a->right : b->right;
    result.bottom = a->bottom < b->bottom ? a->bottom : b->bottom;
    *dest = result;
    return TRUE;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL EqualRect(const RECT* a, const RECT* b) {
    if (!a || !b) return FALSE;
    return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    if (!rect) return FALSE;
    return point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
           point.y < rect->bottom;
}

#endif
