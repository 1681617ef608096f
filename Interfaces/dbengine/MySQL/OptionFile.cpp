/*
 * OptionFile: where the administrator's option file is, and the report of it in the log.
 * The platform finds the home folder and examines the file (QVuserfile).
 */
#include "Interfaces/dbengine/MySQL/OptionFile.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVuserfile.h"

/* Room for the option file's path. */
#define QV_PATH_SIZE 4096

bool qv_DBEngine_option_file(char *path, size_t capacity)
{
    return qv_user_home_path(QV_DB_OPTION_FILE, path, capacity);
}

void qv_DBEngine_report_option_file(void)
{
    char path[QV_PATH_SIZE];
    QVUserFileStatus status;
    if (!qv_DBEngine_option_file(path, sizeof path))
        return;
    qv_user_file_status(path, &status);
    if (!status.exists)
        return;
    qv_log(QV_LOG_INFO, "qv_DBEngine_report_option_file: client options are read from %s", path);
    if (status.readable_by_others)
        qv_log(QV_LOG_WARNING,
               "qv_DBEngine_report_option_file: %s can be read by other users (mode %03o); it "
               "holds root's password: chmod 600 it",
               path, status.mode);
}
