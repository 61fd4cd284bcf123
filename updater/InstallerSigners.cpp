#include "updater/InstallerSignature.h"

const wchar_t* InstallerSigners()
{
    return L"" VANTORIMA_INSTALLER_SIGNERS;
}
