// Tells whether Windows is a Server Core installation of Windows Server 2008, which has no
// desktop for the local user interface. Reports no error: every failure on the way means false.
#pragma once

#include <windows.h>

// Asks for the product type of the version in v (GetProductInfo with the major, minor and
// service-pack numbers of v); false when it cannot answer.
using ProductTypeQuery = bool (*)(const OSVERSIONINFOEXW& v, DWORD* productType);

// True for the seven Server Core product types of GetProductInfo (12, 13, 14, 29, 39, 40, 41).
bool isServerCoreProductType(DWORD productType);

// The decision on a version record: only version 6.0 of a product type other than workstation
// is asked for its product type (through query); Server Core when that type is one of the
// seven. The platform id is not looked at.
bool isServerCoreDecision(const OSVERSIONINFOEXW& v, ProductTypeQuery query);

// GetProductInfo looked up in kernel32.dll at run time (Windows before Vista lacks it).
bool queryProductType(const OSVERSIONINFOEXW& v, DWORD* productType);

// The decision on this host.
bool runsOnServerCore();
