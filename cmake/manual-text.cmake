# The manual page as plain text for the Windows zip, which has no man to read it with:
#   cmake -DGROFF=groff -DPAGE=aoplay.1 -DTEXT=aoplay.txt -P manual-text.cmake
# CR LF line ends, so that any Windows editor shows its lines.
execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u ${PAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "groff could not format ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
