#include "control/VantorimaPropPage.h"

#include "control/ClassIds.h"
#include "res/Resource.h"

CVantorimaPropPage::CVantorimaPropPage()
    : CPropertyPage(CLSID_VantorimaPropPage, IDD_PROPPAGE_VANTORIMA, IDS_VANTORIMA_PPG_CAPTION)
{
}
