// The application class: CFX2NApp in the FX2N deliverable, CFX1SApp in FX1S and FX1N (the
// build names it through NERIO_APP_CLASS).
#pragma once

#include "app/winui/winui.h"

class NERIO_APP_CLASS : public CWinApp {
  public:
    BOOL InitInstance() override;
};

extern NERIO_APP_CLASS theApp;
