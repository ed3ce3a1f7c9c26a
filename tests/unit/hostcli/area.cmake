# The command-line host's parts, without the module.
target_link_libraries(test_hostcli PRIVATE hostcli)
