# Renders the manual with cmark into a standalone HTML page and a man page. Run by the build:
#   cmake -DCMARK=... -DSOURCE=manual.md -DHTML=... -DMAN=... -DVERSION=... -DSUMMARY=... -P render.cmake

cmake_minimum_required(VERSION 3.20)

function(cmark format input result)
  execute_process(COMMAND "${CMARK}" --to ${format} "${input}"
    OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmark could not render ${input} as ${format}: ${error}")
  endif()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

cmark(html "${SOURCE}" body)

# A table of contents: each heading below the title gets an id made of its words, and a link
# in a list after the title. CMake lists split at ';', which entities carry: kept aside.
string(REPLACE ";" "@SEMICOLON@" body "${body}")
string(REGEX MATCHALL "<h[234]>[^\n]*</h[234]>" headings "${body}")
set(contents "<nav class=\"toc\">\n<p><strong>Contents</strong></p>\n<ul>\n")
foreach(heading IN LISTS headings)
  string(REGEX REPLACE "^<h([234])>(.*)</h[234]>$" "\\1" level "${heading}")
  string(REGEX REPLACE "^<h[234]>(.*)</h[234]>$" "\\1" inner "${heading}")
  string(REGEX REPLACE "<[^>]*>" "" words "${inner}")
  string(REGEX REPLACE "&[a-z]+@SEMICOLON@" "" words "${words}")
  string(TOLOWER "${words}" id)
  string(REGEX REPLACE "[^a-z0-9]+" "-" id "${id}")
  string(REGEX REPLACE "^-|-$" "" id "${id}")
  string(REPLACE "${heading}" "<h${level} id=\"${id}\">${inner}</h${level}>" body "${body}")
  string(APPEND contents "<li class=\"level${level}\"><a href=\"#${id}\">${inner}</a></li>\n")
endforeach()
string(APPEND contents "</ul>\n</nav>\n")
string(REGEX REPLACE "(</h1>\n)" "\\1${contents}" body "${body}")
string(REPLACE "@SEMICOLON@" ";" body "${body}")

# Images are charts the program drew: put inline, so that the page stays a single file.
get_filename_component(sourceDir "${SOURCE}" DIRECTORY)
string(REGEX MATCHALL "<p><img src=\"[^\"]*\" alt=\"[^\"]*\" /></p>" images "${body}")
foreach(image IN LISTS images)
  string(REGEX REPLACE "^<p><img src=\"([^\"]*)\".*" "\\1" file "${image}")
  file(READ "${sourceDir}/${file}" svg)
  string(REGEX REPLACE "^<\\?xml[^>]*>\n" "" svg "${svg}")
  string(REPLACE "${image}" "<figure>\n${svg}</figure>" body "${body}")
endforeach()

file(WRITE "${HTML}" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Trevalo ${VERSION} manual</title>
<style>
body { max-width: 52em; margin: 2em auto; padding: 0 1em; font: 16px/1.5 sans-serif; color: #222; }
h2 { margin-top: 2em; border-bottom: 1px solid #ccc; }
code, pre { font-family: monospace; font-size: 0.9em; }
pre { background: #f5f5f5; padding: 0.6em 0.8em; overflow-x: auto; }
footer { margin-top: 3em; color: #777; font-size: 0.9em; }
nav.toc ul { list-style: none; padding-left: 0; columns: 2; }
nav.toc li.level3 { padding-left: 1.2em; }
nav.toc li.level4 { padding-left: 2.4em; font-size: 0.95em; }
figure { margin: 1em 0; }
figure svg { max-width: 100%; height: auto; border: 1px solid #ddd; }
</style>
</head>
<body>
${body}<footer>Trevalo ${VERSION}</footer>
</body>
</html>
")

# The man page: the title gives way to the NAME section, the other headings move up one level
# (sections and subsections), and section names are capitalised as man pages have them.
file(READ "${SOURCE}" markdown)
string(REGEX REPLACE "^# [^\n]*\n" "" markdown "${markdown}")
string(REGEX REPLACE "\n!\\[[^\n]*\n" "\n" markdown "${markdown}")  # a terminal shows no chart
string(REPLACE "\n## " "\n# " markdown "${markdown}")
string(REPLACE "\n### " "\n## " markdown "${markdown}")
string(REGEX REPLACE "^\n*## " "# " markdown "${markdown}")
file(WRITE "${MAN}.md" "${markdown}")
cmark(man "${MAN}.md" body)
file(REMOVE "${MAN}.md")

set(page "")
while(TRUE)
  string(FIND "${body}" ".SH\n" at)
  if(at EQUAL -1)
    break()
  endif()
  math(EXPR at "${at} + 4")
  string(SUBSTRING "${body}" 0 ${at} before)
  string(SUBSTRING "${body}" ${at} -1 body)
  string(FIND "${body}" "\n" end)
  string(SUBSTRING "${body}" 0 ${end} heading)
  string(SUBSTRING "${body}" ${end} -1 body)
  string(TOUPPER "${heading}" heading)
  string(APPEND page "${before}${heading}")
endwhile()
string(TIMESTAMP date "%Y-%m-%d" UTC)
# No hyphenation and a ragged right edge: paths and switches stay whole.
file(WRITE "${MAN}" ".TH TREVALO 1 \"${date}\" \"Trevalo ${VERSION}\" \"User Commands\"
.nh
.ad l
.SH NAME
trevalo \\- ${SUMMARY}
${page}${body}")
