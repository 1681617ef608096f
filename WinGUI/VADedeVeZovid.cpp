/*
 * VADedeVeZovid: the program's own part of the framework: its title and its one
 * application object, constructed during static initialisation. The framework's entry
 * point calls the object's InitInstance.
 */
#include "WinGUI/Resource.h"
#include "WinGUI/VADedeVeZovidApp.h"

const char AfxAppTitle[] = QV_APP_TITLE;

CHalvernApp theApp;
