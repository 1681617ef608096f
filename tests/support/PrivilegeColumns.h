/*
 * PrivilegeColumns: the static privilege columns of mysql.user that MariaDB and MySQL
 * 5.7 and 8 share, in table order. MariaDB adds Delete_history_priv, MySQL 8
 * Create_role_priv and Drop_role_priv.
 */
#ifndef TESTS_SUPPORT_PRIVILEGECOLUMNS_H
#define TESTS_SUPPORT_PRIVILEGECOLUMNS_H

inline const char *const g_shared_privilege_columns[] = {
    "Select_priv",
    "Insert_priv",
    "Update_priv",
    "Delete_priv",
    "Create_priv",
    "Drop_priv",
    "Reload_priv",
    "Shutdown_priv",
    "Process_priv",
    "File_priv",
    "Grant_priv",
    "References_priv",
    "Index_priv",
    "Alter_priv",
    "Show_db_priv",
    "Super_priv",
    "Create_tmp_table_priv",
    "Lock_tables_priv",
    "Execute_priv",
    "Repl_slave_priv",
    "Repl_client_priv",
    "Create_view_priv",
    "Show_view_priv",
    "Create_routine_priv",
    "Alter_routine_priv",
    "Create_user_priv",
    "Event_priv",
    "Trigger_priv",
    "Create_tablespace_priv",
};

#endif
