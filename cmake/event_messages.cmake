# Writes the agent's message table source (a .mc file for windmc) from the texts the agent
# itself uses, so the Windows event viewer shows the same words as the event file and syslog.
#   cmake -DTEXTS=ups_lib/event_texts.cpp -DOUT=torvane_messages.mc -P event_messages.cmake
# The texts stand in order, from id 0x64, in the one array of that file.
file(READ ${TEXTS} source)
string(FIND "${source}" "kTexts = {" start)
string(FIND "${source}" "};" end)
if(start LESS 0 OR end LESS start)
    message(FATAL_ERROR "no text table in ${TEXTS}")
endif()
math(EXPR length "${end} - ${start}")
string(SUBSTRING "${source}" ${start} ${length} table)
string(REGEX MATCHALL "\"[^\"]*\"" texts "${table}")
list(LENGTH texts count)
if(NOT count EQUAL 20)
    message(FATAL_ERROR "expected the 20 texts of ids 0x64..0x77 in ${TEXTS}, found ${count}")
endif()

set(mc "MessageIdTypedef=DWORD\nLanguageNames=(English=0x409:MSG00409)\n\n")
set(id 100)
foreach(quoted IN LISTS texts)
    string(REGEX REPLACE "^\"(.*)\"$" "\\1" text "${quoted}")
    math(EXPR hex "${id}" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND mc "MessageId=${hex}\nLanguage=English\n${text}\n.\n\n")
    math(EXPR id "${id} + 1")
endforeach()
file(WRITE ${OUT}.new "${mc}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
