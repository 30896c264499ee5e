# Runs the player checks under Wine with the waveaudio driver's trace in a file that they read.
# Wine writes its trace to the Unix standard error, which no Windows program can redirect for
# its child, so the whole check runs with standard error sent to that file.
# Takes -DEMULATOR=<wine> -DDRIVER=<checks .exe> -DPLAYER=<kestrova.exe> -DWORK=<folder>.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${PLAYER} ${DRIVER} DESTINATION ${WORK})
get_filename_component(driver_name ${DRIVER} NAME)
set(ENV{WINEDEBUG} "-all,+mciwave")
set(ENV{KESTROVA_MCI_TRACE} mci-trace.log)
execute_process(COMMAND ${EMULATOR} ${WORK}/${driver_name}
                WORKING_DIRECTORY ${WORK}
                ERROR_FILE ${WORK}/mci-trace.log
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the player checks failed (${result}); Wine's trace: ${WORK}/mci-trace.log")
endif()
