/* receiver_paths.h -- where the receiver's firmware keeps things.
 *
 * The internal disk is "/mnt/hd" to the operating system and "/" to the disk
 * API; the folders below are the firmware's own, named as the disk API names
 * them. Every module of the plug-ins, the simulator and the tests takes
 * them from here.
 */
#ifndef FERROX_PLATFORM_RECEIVER_PATHS_H
#define FERROX_PLATFORM_RECEIVER_PATHS_H

#define TAPFS_ROOT "/mnt/hd"                       /* the internal disk as an OS path */
#define TAPFS_ROOT_LEN (sizeof TAPFS_ROOT - 1)     /* its length: 7 */
#define PROGRAM_FILES_DIR "/ProgramFiles"          /* the plug-ins */
#define DATA_FILES_DIR "/DataFiles"                /* the recordings */
#define SETTINGS_DIR PROGRAM_FILES_DIR "/Settings" /* the plug-ins' settings */
#define FONT_DIR SETTINGS_DIR "/Fonts"             /* the ".ufnt" fonts */
#define TKLIB_LOG_NAME "TKLib.log"                 /* the toolkit's log in SETTINGS_DIR */

#endif
