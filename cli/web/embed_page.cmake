# Writes OUTPUT, a C++ file that holds the files of the folder PAGE as byte
# arrays and the table that page_files.h declares. index.html answers "/".
file(GLOB names RELATIVE ${PAGE} ${PAGE}/*)
list(SORT names)
set(arrays "")
set(table "")
set(index 0)
foreach(name IN LISTS names)
  file(READ ${PAGE}/${name} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char file${index}[] = {${bytes}0};\n")
  get_filename_component(extension ${name} LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    set(type "application/octet-stream")
  endif()
  if(name STREQUAL "index.html")
    set(path "/")
  else()
    set(path "/${name}")
  endif()
  string(APPEND table "    {\"${path}\", \"${type}\", file${index}, sizeof file${index} - 1},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by cli/web/embed_page.cmake from cli/web/page/.
#include \"cli/web/page_files.h\"

namespace crest::cli {
namespace {
${arrays}
const PageFile kFiles[] = {
${table}};
}  // namespace

const PageFile* findPageFile(const std::string& path) {
    for (const PageFile& file : kFiles)
        if (path == file.path) return &file;
    return nullptr;
}

}  // namespace crest::cli
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
