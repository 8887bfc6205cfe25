/* A plug-in library built for another processor (32-bit x86): the 64-bit
   shell cannot load it. */
__declspec(dllexport) const void* GetPluginDescriptor(void) { return 0; }
__declspec(dllexport) int CreatePlugin(unsigned version, void* table) {
  (void)version;
  (void)table;
  return 0;
}
