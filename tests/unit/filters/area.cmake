# The tests load the filter DLLs from their own folder.
add_dependencies(test_filters transpose echo)
target_include_directories(test_filters PRIVATE ${PROJECT_SOURCE_DIR}/filters)
