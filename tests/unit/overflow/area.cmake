# A stack overflow in filter code, in a process of its own: a guard page not restored
# would take the whole program down, not one test.
add_dependencies(test_overflow palisander palisander_testfilter)
