// rx5k-emulator: plays the printer for the filter. (Placeholder until the emulator lands.)
int main() {
  return 0;
}
