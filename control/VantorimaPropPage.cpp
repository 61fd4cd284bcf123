#include "control/VantorimaPropPage.h"

#include "res/Resource.h"

CVantorimaPropPage::CVantorimaPropPage(const ClassRow& row)
    : CPropertyPage(row, IDD_PROPPAGE_VANTORIMA, IDS_VANTORIMA_PPG_CAPTION)
{
}
