# The report's faces, and the report printed by real tools: an HTML checker,
# a headless browser and the PDF utilities.
busdesk_test(test_report_fonts ${CMAKE_CURRENT_LIST_DIR}/font_faces_test.cpp)
target_link_libraries(test_report_fonts PRIVATE busdesk_report_fonts)

# The report of a demo session checked by tidy, drawn and printed to PDF by
# headless Chromium, the PDF read back by poppler's tools. Slow for a test
# (a session on the simulated bus, then a browser twice); the script kills
# any program that outlives its time, and ctest kills the script.
if(NOT WIN32 AND TARGET busdesk-cli)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME report_print
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/print_test.py
                   $<TARGET_FILE:busdesk-cli> ${CMAKE_CURRENT_BINARY_DIR}/report_print)
  set_tests_properties(report_print PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
