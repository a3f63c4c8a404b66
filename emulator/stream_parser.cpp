// Printer stream parser of the emulator. (Placeholder until the emulator lands.)
namespace emu {
int streamParserVersion() {
  return 0;
}
}  // namespace emu
