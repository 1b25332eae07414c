# Puts the files the executable expects beside it. Run after each build of pelmora.
file(MAKE_DIRECTORY "${APP_DIR}/Program Data")

foreach(name settings.ini crystl32.ini)
    if(NOT EXISTS "${APP_DIR}/Program Data/${name}")
        file(COPY "${DATA_DIR}/${name}" DESTINATION "${APP_DIR}/Program Data")
    endif()
endforeach()

# Program files: always the current version.
file(COPY "${DATA_DIR}/ProgramInfo.txt" DESTINATION "${APP_DIR}/Program Data")
file(GLOB reports "${DATA_DIR}/*.rpt")
if(reports)
    file(COPY ${reports} DESTINATION "${APP_DIR}")
endif()

if(NOT EXISTS "${APP_DIR}/cntdb.mdb")
    execute_process(COMMAND "${CNTDBTOOL}" create "${APP_DIR}/cntdb.mdb" --demo 50
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cntdbtool could not create ${APP_DIR}/cntdb.mdb")
    endif()
endif()
