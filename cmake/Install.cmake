# What "cmake --install" puts where, under the install prefix (GNU directories). The Debian
# package (cmake/Packaging.cmake) is made from the same rules.
#
#   bin/                         taskscheduler-demo, taskschedd, taskschedctl
#   libexec/                     taskschedd-exec, the supervisor of one task instance; the
#                                daemon looks for it there, relative to its own directory
#   lib/.../libkvtask.so         the component library, for programs outside this tree
#   include/kvtask/              its public headers and the published interfaces they use
#   lib/.../cmake/kvtask/        the package config: find_package(kvtask), target kvtask::kvtask
#   lib/systemd/{user,system}/   the service's units, ExecStart configured from the prefix
#   etc/pam.d/taskschedd         how the service checks account passwords (/etc/pam.d for
#                                the prefix /usr; PAM reads only there, and falls back to
#                                "other", which on Debian is the same rules)
#   share/applications, share/icons/hicolor/scalable/apps
#                                the desktop entry and the icon of the application
#   share/doc/taskscheduler-demo the pages "Home Page" and "Other Products" open
#   share/man/man1, share/bash-completion/completions
#                                taskschedctl's man page and completion
#
# Paths written into installed files (the units' ExecStart) come from CMAKE_INSTALL_PREFIX as
# configured; to stage an install elsewhere, use DESTDIR rather than "cmake --install --prefix".
include(CMakePackageConfigHelpers)

install(TARGETS taskscheduler-demo taskschedd taskschedctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS taskschedd-exec RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR})

# The library, its headers and its package config.
install(TARGETS kvtask_shared EXPORT kvtaskTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/library/kvTask.h
    ${PROJECT_SOURCE_DIR}/library/kvErrors.h
    ${PROJECT_SOURCE_DIR}/library/kvTaskTypes.h
    ${PROJECT_SOURCE_DIR}/library/kvUtils.h
    ${PROJECT_SOURCE_DIR}/library/TTaskScheduler.h
    ${PROJECT_SOURCE_DIR}/library/TTaskItem.h
    ${PROJECT_SOURCE_DIR}/library/TTriggers.h
    ${PROJECT_SOURCE_DIR}/library/TTrigger.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/ComBase.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/ErrorInfo.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/Exceptions.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/ObjectRuntime.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/ResultCodes.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/TaskService2.h
    ${PROJECT_SOURCE_DIR}/platform/sdk/tvMSTask.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvtask)
set(TS_PACKAGE_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kvtask)
install(EXPORT kvtaskTargets NAMESPACE kvtask:: DESTINATION ${TS_PACKAGE_CONFIG_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvtaskConfig.cmake.in
    ${PROJECT_BINARY_DIR}/kvtaskConfig.cmake INSTALL_DESTINATION ${TS_PACKAGE_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvtaskConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvtaskConfig.cmake ${PROJECT_BINARY_DIR}/kvtaskConfigVersion.cmake
    DESTINATION ${TS_PACKAGE_CONFIG_DIR})

# The service: its units and its PAM rules.
set(TS_DAEMON_DIR ${PROJECT_SOURCE_DIR}/platform/daemon)
foreach(kind user system)
    configure_file(${TS_DAEMON_DIR}/systemd/${kind}/taskschedd.service.in ${PROJECT_BINARY_DIR}/systemd/${kind}/taskschedd.service @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/systemd/${kind}/taskschedd.service DESTINATION lib/systemd/${kind})
endforeach()
install(FILES ${TS_DAEMON_DIR}/pam/taskschedd DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/pam.d)

# The application's desktop entry, icon and pages.
install(FILES ${PROJECT_SOURCE_DIR}/demo/desktop/taskscheduler-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/demo/desktop/taskscheduler-demo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/docs/index.html ${PROJECT_SOURCE_DIR}/docs/products.html ${PROJECT_SOURCE_DIR}/docs/main-window.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/taskscheduler-demo)

# The command line's man page and completion, which the build writes (tools/taskschedctl).
set(TS_CTL_BINARY_DIR ${PROJECT_BINARY_DIR}/tools/taskschedctl)
install(FILES ${TS_CTL_BINARY_DIR}/taskschedctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TS_CTL_BINARY_DIR}/taskschedctl.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME taskschedctl)
