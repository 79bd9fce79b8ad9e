/* FerroxFiles.h -- the two plug-ins' ids and where they keep their files.
 *
 * The copy service, the setup, the simulator and the tests' support code
 * take these names from here.
 */
#ifndef FERROX_SETTINGS_FERROXFILES_H
#define FERROX_SETTINGS_FERROXFILES_H

#include "receiver_paths.h"

/* The two plug-ins' ids, as their headers carry them */
#define FERROX_ID 0x8E0A42EFu      /* the copy service, Ferrox.tap */
#define FERROXSETUP_ID 0x8E0A42FFu /* the setup, FerroxSetup.tap */

#define FERROX_NAME "Ferrox"             /* the copy service, also its folder's name */
#define SERVICE_TAP_FILE "Ferrox.tap"    /* in PROGRAM_FILES_DIR */
#define SETUP_TAP_FILE "FerroxSetup.tap" /* in PROGRAM_FILES_DIR */
#define SETTINGS_FOLDER SETTINGS_DIR "/" FERROX_NAME
#define SETTINGS_FILE "Ferrox.ini" /* in SETTINGS_FOLDER */
#define LOG_FILE "Ferrox.log"      /* in SETTINGS_FOLDER */
#define JOB_FOLDER "JobFiles"      /* job files of other programs, in SETTINGS_FOLDER */
#define JOB_FAIL_FOLDER "JobFail"  /* the jobs that failed, in SETTINGS_FOLDER */

/* Folder settings below the recordings' folder start so */
#define DATAFILES_PREFIX TAPFS_ROOT DATA_FILES_DIR "/"
#define DATAFILES_PREFIX_LEN (sizeof DATAFILES_PREFIX - 1) /* 18 */

#endif
