# Black-box tests: the real module DLL and the real test filter, beside the test program.
add_dependencies(test_editorstate palisander palisander_testfilter)
