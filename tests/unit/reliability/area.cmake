# Black-box tests: the real module DLL and the real test filter, beside the test program; psapi for the soak.
add_dependencies(test_reliability palisander palisander_testfilter transpose echo)
target_link_libraries(test_reliability PRIVATE psapi)
