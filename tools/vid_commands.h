// The subcommands of the vid program. Each is one source with a main of its own and its
// usage text; vid.cpp lists them. To add one: write tools/vid_<name>.cpp with these two
// functions, declare them here, add a line to the table in vid.cpp and the source to
// tools/CMakeLists.txt.
#pragma once

int vid_info_main(int argc, char** argv);
const char* vid_info_usage();
int vid_export_main(int argc, char** argv);
const char* vid_export_usage();
int vid_import_main(int argc, char** argv);
const char* vid_import_usage();
int vid_verify_main(int argc, char** argv);
const char* vid_verify_usage();
int vid_repair_main(int argc, char** argv);
const char* vid_repair_usage();
