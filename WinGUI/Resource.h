/*
 * Resource: the application title, kept in one place. It names the program in the
 * message box caption and in the version record; the version numbers themselves come
 * from the project's version in the build.
 */
#ifndef WINGUI_RESOURCE_H
#define WINGUI_RESOURCE_H

#define QV_APP_TITLE "VADedeVeZovid"

#endif
