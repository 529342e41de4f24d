# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the files it has staged, before it packs them: each
# file and folder takes the source's date, since the package's archives keep the time each file
# was written and CPack takes that from the staged files.
if(NOT CPACK_QV_SOURCE_DATE_EPOCH)
  return()
endif()
execute_process(
  COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec
          touch --no-dereference --date=@${CPACK_QV_SOURCE_DATE_EPOCH} {} +
  COMMAND_ERROR_IS_FATAL ANY)
