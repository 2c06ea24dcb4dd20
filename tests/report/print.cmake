# The report's faces, and the report printed by real tools: an HTML checker,
# a headless browser and the PDF utilities.
busdesk_test(test_report_fonts ${CMAKE_CURRENT_LIST_DIR}/font_faces_test.cpp)
target_link_libraries(test_report_fonts PRIVATE busdesk_report_fonts)
