// The control's property page: template 200, caption "General". It binds no
// control to a property; the page only tells where the properties come from.
#pragma once

#include "framework/activex/PropertyPage.h"

class CVantorimaPropPage : public CPropertyPage {
public:
    explicit CVantorimaPropPage(const ClassRow& row);
};
