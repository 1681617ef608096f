/*
 * AppFramework: the small application framework the tool runs in (the part of MFC it
 * uses): BOOL, the application base class and its entry point, and the message box.
 */
#ifndef APPFRAMEWORK_APPFRAMEWORK_H
#define APPFRAMEWORK_APPFRAMEWORK_H

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#endif
