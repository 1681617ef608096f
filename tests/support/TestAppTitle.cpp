/*
 * TestAppTitle: the application title that every program linking the framework
 * defines; test programs take the tool's.
 */
#include "AppFramework/AppFramework.h"
#include "WinGUI/Resource.h"

const char AfxAppTitle[] = QV_APP_TITLE;
