# Loads and unloads the shipped DLLs in a process of its own, so that its memory
# figures see nothing of other tests.
add_dependencies(test_unload palisander palisander_testfilter transpose echo)
set_tests_properties(unload PROPERTIES TIMEOUT 1800)
