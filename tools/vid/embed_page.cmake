# Writes the header that holds vid view's page: cmake -DIN=page.html -DOUT=page.h -P this file.
# The page becomes one C++ raw string, kVidViewPage.
file(READ "${IN}" page)
string(FIND "${page}" ")PAGE\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${IN} holds the raw string's end )PAGE\"")
endif()
file(WRITE "${OUT}.tmp" "// Made from ${IN} when vid is built; edit that file.\n#pragma once\n\n"
    "static const char kVidViewPage[] = R\"PAGE(${page})PAGE\";\n")
file(RENAME "${OUT}.tmp" "${OUT}")
