// The entry of the layer checks: each links one layer whole with only the layers below it, so
// that a call the wrong way is an undefined symbol.
int main() {
    return 0;
}
