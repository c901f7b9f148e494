// The subcommands of the vid program. Each is one source with a main of its own and its
// command-line table (vid_cli.h), from which its usage is made; vid.cpp lists them. To add
// one: write tools/vid/vid_<name>.cpp with its main and table, declare them here, add a line to
// the list in vid.cpp and the source to tools/vid/CMakeLists.txt.
#pragma once

struct VidSubcommand;

int vid_info_main(int argc, char** argv);
extern const VidSubcommand vid_info_command;
int vid_export_main(int argc, char** argv);
extern const VidSubcommand vid_export_command;
int vid_import_main(int argc, char** argv);
extern const VidSubcommand vid_import_command;
int vid_verify_main(int argc, char** argv);
extern const VidSubcommand vid_verify_command;
int vid_crop_main(int argc, char** argv);
extern const VidSubcommand vid_crop_command;
int vid_convert_main(int argc, char** argv);
extern const VidSubcommand vid_convert_command;
int vid_watch_main(int argc, char** argv);
extern const VidSubcommand vid_watch_command;
int vid_view_main(int argc, char** argv);
extern const VidSubcommand vid_view_command;
int vid_repair_main(int argc, char** argv);
extern const VidSubcommand vid_repair_command;
int vid_meta_main(int argc, char** argv);
extern const VidSubcommand vid_meta_command;
int vid_cameras_main(int argc, char** argv);
extern const VidSubcommand vid_cameras_command;
int vid_record_main(int argc, char** argv);
extern const VidSubcommand vid_record_command;
