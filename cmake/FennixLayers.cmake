# The engine's layers, lowest first, and what each may include: its own folder
# and the layers named here. engine/CMakeLists.txt builds one static library
# per layer that links exactly these; CheckLayers.cmake, run by every build,
# stops it on an #include that names another folder of the engine.
set(FENNIX_LAYERS platform log files serial flow download nv session)
set(FENNIX_LAYER_platform_USES "")
set(FENNIX_LAYER_log_USES platform)
set(FENNIX_LAYER_files_USES platform)
set(FENNIX_LAYER_serial_USES platform log)
set(FENNIX_LAYER_flow_USES "")
set(FENNIX_LAYER_download_USES platform log files serial flow)
set(FENNIX_LAYER_nv_USES platform log files serial flow)
set(FENNIX_LAYER_session_USES platform log files serial flow download nv)
