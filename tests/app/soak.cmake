# The soak run, short: the built server under 50 simulated stations for 30 s (scripts/soak.sh
# checks that it stays alive, gives back every descriptor and thread, keeps its memory flat and
# logs exactly the sessions the stations closed). The full run is `scripts/soak.sh` (600 s, 500).
add_test(NAME soak_short COMMAND ${CMAKE_SOURCE_DIR}/scripts/soak.sh 30 50)
set_tests_properties(soak_short PROPERTIES
    LABELS soak
    RESOURCE_LOCK ostrel_server
    TIMEOUT 180
    SKIP_RETURN_CODE 77
    ENVIRONMENT "OSTREL_SERVER=$<TARGET_FILE:ostrel-server>;OSTREL_STATION=$<TARGET_FILE:ostrel-station>;OSTREL_LOG=$<TARGET_FILE:ostrel-log>;OSTREL_SOAK_SANITIZED=$<BOOL:${OSTREL_SANITIZE}>")
