// The module's five fixed GUIDs. Four come from the type library's IDL
// (res/Vantorima.idl, through the header widl generates); the property page is
// not in the type library. Pages that embed the control name these: they
// never change.
#pragma once

#include <windows.h>

#include "VantorimaLib.h"

// LIBID_VANTORIMALib    {86A4EEF8-5C3E-4114-BE18-7809B34019A1}
// CLSID_Vantorima       {3693842E-C439-4246-B56C-4529932A9ABA}
// DIID__DVantorima      {9CE120F2-AC78-403D-B2D9-20700932507B}
// DIID__DVantorimaEvents {84C8E826-CD00-44EB-A174-49715478A86C}
// {4EC3797C-E712-4833-AA77-A5D226D55993}
constexpr CLSID CLSID_VantorimaPropPage = {
    0x4ec3797c, 0xe712, 0x4833, {0xaa, 0x77, 0xa5, 0xd2, 0x26, 0xd5, 0x59, 0x93}};

constexpr char kControlProgId[] = "VANTORIMA.VantorimaCtrl.1";
