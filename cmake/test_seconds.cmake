# How long each test took in a whole run (scripts/test on 8 cores, beside
# other builds and test runs: load 22 to 48), in seconds, rounded.
# CTest starts the tests of a parallel run in descending order of their
# COST; a fresh build folder has no timings of its own, and then started
# them in the order they are declared, the longest end-to-end group among
# the last, which the run then waited for alone. Only the order matters:
# update a figure when a test's rank changes, not for every run. A test
# not listed (one of a few seconds, or new) starts after all of these.
set(TARVO_TEST_SECONDS
  e2e_main2                              1360
  e2e_recovery1                          1320
  e2e_recovery2                          1190
  e2e_silent                             1190
  e2e_installs                           1070
  e2e_certificate_ended                  940
  e2e_users                              910
  e2e_main1                              910
  e2e_firstinstall2                      880
  e2e_server                             840
  e2e_firstinstall1                      830
  e2e_windows                            470
  installer_unittests                    400
  base_unittests                         290
  crash_reporter_unittests               270
  e2e_crashlinks                         200
  bench_smoke_installs_vs_earlier_builds 130
  bench_smoke_silent_install_vs_7zz      130
  bench_smoke_start_signed_vs_unsigned   120
  bench_smoke_uninstall_vs_plain_delete  100
  bench_smoke_install_roads              100
  bench_smoke_programs                   100
  bench_smoke_install_vs_copy            70
  bench_smoke_unpack_vs_7zz              70
  bench_smoke_downloader_vs_curl         70
  bench_smoke_file_util_vs_baselines     60
  bench_smoke_sha256_vs_openssl          60
)

# Gives `test` its COST from the table; a test not in it keeps CTest's own
# (0 in a fresh build folder).
function(tarvo_test_cost test)
  list(FIND TARVO_TEST_SECONDS ${test} index)
  if(index GREATER -1)
    math(EXPR index "${index} + 1")
    list(GET TARVO_TEST_SECONDS ${index} seconds)
    set_tests_properties(${test} PROPERTIES COST ${seconds})
  endif()
endfunction()
