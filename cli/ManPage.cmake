# Writes the manual page pcom(1) from the built pcom's own --help texts, so
# that the page and the help never say different things.
#   cmake -DPCOM=path/to/pcom -DVERSION=x.y.z -DPLUGIN=lib/pcom/plugins/libPCom_Core.so
#         -DOUT=pcom.1 -P ManPage.cmake
# writes OUT and, compressed as Debian installs manual pages, OUT.gz.
# The help texts need no plug-in: each command prints its help before it
# loads anything.

set(ENV{ASAN_OPTIONS} "detect_leaks=0")

# Text as roff that is shown as it is: backslashes and minus signs escaped,
# lines that roff would take as requests made plain.
function(pcom_help out)
    execute_process(COMMAND "${PCOM}" ${ARGN} --help
        OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "pcom ${ARGN} --help failed (${result}): ${err}")
    endif()
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

pcom_help(overview)
set(page ".TH PCOM 1 \"\" \"pcom ${VERSION}\" \"User Commands\"
.SH NAME
pcom \\- command\\-line host of the PCom_Core communication plug\\-in
.SH SYNOPSIS
.B pcom
[\\fICOMMAND\\fR] [\\fIoptions\\fR] [\\fIarguments\\fR]
.SH DESCRIPTION
.nf
${overview}.fi
.SH COMMANDS
")
foreach(command devices props doc open bridge serve canbus-server)
    pcom_help(text ${command})
    string(APPEND page ".SS pcom ${command}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND page ".SH FILES
.TP
.I PREFIX/${PLUGIN}
the plug\\-in, found relative to the folder of \\fIPREFIX\\fR/bin/pcom (the build tree and the configured
installation prefix are tried next) unless \\fB\\-\\-plugin\\fR names another
.SH SEE ALSO
.BR stty (1),
.BR candump (1),
.BR cansend (1),
.BR mosquitto (8),
.BR mosquitto_sub (1),
.BR mosquitto_pub (1)
")
file(WRITE "${OUT}" "${page}")
execute_process(COMMAND gzip -9nc "${OUT}" OUTPUT_FILE "${OUT}.gz" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed (${result})")
endif()
