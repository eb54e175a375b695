// The port picker: a combo box whose items show a bitmap (the item data) beside their text.
#pragma once

#include "app/winui/winui.h"

class CBitmapPickerCombo : public CComboBox {
  public:
    CBitmapPickerCombo() = default;
    ~CBitmapPickerCombo() override = default;

    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
    void MeasureItem(LPMEASUREITEMSTRUCT measureItem) override;

    // Bookkeeping after an item with a bitmap of this size was inserted.
    void InsertBitmap(int width, int height);

  private:
    void OutputBitmap(LPDRAWITEMSTRUCT drawItem, CDC& dc);

    int m_nItemWidth = 0;   // widest bitmap inserted so far
    int m_nItemHeight = 0;  // highest bitmap inserted so far
};
