# Stages the module and packs it with fixed times, modes and order, so that
# the same inputs give the same zip.
file(REMOVE_RECURSE ${STAGE})
set(exec OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(plain OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY ${VMKD} ${CALMD} ${VMKTRACE} ${VMKCTL} DESTINATION ${STAGE}/bin FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/service.sh ${SOURCE}/uninstall.sh ${SOURCE}/action.sh ${SOURCE}/control.sh
     DESTINATION ${STAGE} FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/customize.sh ${SOURCE}/daemons.sh ${PROP} DESTINATION ${STAGE} FILE_PERMISSIONS ${plain})
file(COPY ${SOURCE}/webroot/index.html ${SOURCE}/webroot/style.css ${SOURCE}/webroot/app.js
     DESTINATION ${STAGE}/webroot FILE_PERMISSIONS ${plain})
set(installer META-INF/com/google/android)
file(COPY ${SOURCE}/${installer}/update-binary DESTINATION ${STAGE}/${installer} FILE_PERMISSIONS ${exec})
file(COPY ${SOURCE}/${installer}/updater-script DESTINATION ${STAGE}/${installer} FILE_PERMISSIONS ${plain})
set(entries
  META-INF/com/google/android/update-binary
  META-INF/com/google/android/updater-script
  action.sh
  bin/calmd
  bin/vmkctl
  bin/vmkd
  bin/vmktrace
  control.sh
  customize.sh
  daemons.sh
  module.prop
  service.sh
  uninstall.sh
  webroot/app.js
  webroot/index.html
  webroot/style.css)
file(REMOVE ${ZIP})
# Info-ZIP with -X stores no owner or extra times, only the (fixed) modification time.
execute_process(COMMAND touch -h -d "2020-01-01 00:00:00 UTC" ${entries} WORKING_DIRECTORY ${STAGE})
execute_process(COMMAND env TZ=UTC zip -X -q -9 ${ZIP} ${entries}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "packing ${ZIP} failed")
endif()
