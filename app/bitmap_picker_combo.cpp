#include "app/bitmap_picker_combo.h"

namespace {

// Room around the pictures: the selection field and items are this much higher than the
// highest bitmap, the measured item this much wider and higher, the text this far from it.
constexpr int kItemHeightPadding = 6;
constexpr int kMeasurePadding = 2;
constexpr int kBitmapLeftMargin = 2;
constexpr int kTextGap = 4;

}  // namespace

void CBitmapPickerCombo::InsertBitmap(int width, int height) {
    if (width > m_nItemWidth) m_nItemWidth = width;
    if (height > m_nItemHeight) m_nItemHeight = height;
    for (int i = -1; i < GetCount(); ++i)
        SetItemHeight(i, static_cast<uint16_t>(m_nItemHeight + kItemHeightPadding));
}

void CBitmapPickerCombo::MeasureItem(LPMEASUREITEMSTRUCT measureItem) {
    measureItem->itemWidth = static_cast<UINT>(m_nItemWidth + kMeasurePadding);
    measureItem->itemHeight = static_cast<UINT>(m_nItemHeight + kMeasurePadding);
}

void CBitmapPickerCombo::DrawItem(LPDRAWITEMSTRUCT drawItem) {
    CDC dc;
    dc.Attach(drawItem->hDC);
    const bool drawsBody = (drawItem->itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) != 0;
    if (drawsBody) {
        const bool selected = (drawItem->itemState & ODS_SELECTED) != 0;
        COLORREF back = ::GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW);
        COLORREF fore = ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
        CBrush brush(back);
        CPen pen(PS_SOLID, 1, back);
        HGDIOBJ oldBrush = dc.SelectObject(&brush);
        HGDIOBJ oldPen = dc.SelectObject(&pen);
        dc.Rectangle(drawItem->rcItem);
        dc.SetBkColor(back);
        dc.SetTextColor(fore);
        if (drawItem->itemData != 0) OutputBitmap(drawItem, dc);
        dc.SelectObject(oldBrush);
        dc.SelectObject(oldPen);
    }
    if ((drawItem->itemAction & ODA_FOCUS) != 0) dc.DrawFocusRect(&drawItem->rcItem);
    dc.Detach();
}

void CBitmapPickerCombo::OutputBitmap(LPDRAWITEMSTRUCT drawItem, CDC& dc) {
    if (drawItem->itemData == static_cast<ULONG_PTR>(CB_ERR)) return;
    if (dc.m_hDC == nullptr) return;
    const CBitmap* bitmap = reinterpret_cast<const CBitmap*>(drawItem->itemData);
    std::wstring text;
    if (static_cast<int>(drawItem->itemID) != -1)
        GetLBText(static_cast<int>(drawItem->itemID), text);
    BITMAP info = {};
    bitmap->GetBitmap(&info);
    const RECT& r = drawItem->rcItem;
    CDC memory;
    memory.CreateCompatibleDC(&dc);
    HGDIOBJ old = memory.SelectObject(bitmap->m_hObject);
    if (!text.empty()) {
        int y = r.top + (r.bottom - r.top) / 2 - m_nItemHeight / 2;
        dc.BitBlt(r.left + kBitmapLeftMargin, y, info.bmWidth, info.bmHeight, &memory, 0, 0,
                  SRCCOPY);
        RECT textRect = r;
        textRect.left += m_nItemWidth + kTextGap;
        dc.DrawText(text, &textRect, DT_SINGLELINE | DT_VCENTER);
    } else {
        int x = r.left + (r.right - r.left) / 2 - info.bmWidth / 2;
        int y = r.top + (r.bottom - r.top) / 2 - info.bmHeight / 2;
        dc.BitBlt(x, y, info.bmWidth, info.bmHeight, &memory, 0, 0, SRCCOPY);
    }
    memory.SelectObject(old);
}
