#!/bin/sh
# A binding recipe of the README that no scenario runs, from a folder laid
# out as the source tree after the quick start (its build in build-demo/),
# against the simulator that build holds:
#   python   the README's install into a virtual environment, then its
#            example run with the library the README names
#   lazarus  a Lazarus project that requires the package, its main program
#            the README's Pascal example: it links with nothing more said,
#            and runs with the README's LD_LIBRARY_PATH
# Without python3-venv or lazbuild it fails, or is skipped where
# QUORVEX_ALLOW_MISSING lists wheels or lazbuild (tests/support/missing.sh).
#   recipes.sh python|lazarus SOURCE_DIR BUILD_DIR
set -eu
recipe=$1 source=$2 build=$3
readme=$source/README.md
. "$source/tests/support/simulator_port.sh"
work=$(mktemp -d)
sim_pid=
cleanup() { [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
tree=$work/tree
mkdir -p "$tree/bindings"
ln -s "$build" "$tree/build-demo"
# The rest of the tree as it is; the binding's folder is copied, as its
# recipe writes beside it.
for f in LICENSE include interface; do ln -s "$source/$f" "$tree/$f"; done

# block HEADING FENCE: the first block of that fence after the heading.
block() {
  awk -v h="$1" -v f="$2" '$0 == h { on = 1 } on && $0 == "```" f { c = 1; next } c && /^```$/ { exit } c' "$readme"
}
: > "$work/sim.out"
"$tree/build-demo/bin/quorvex-sim" --port 0 --quiet > "$work/sim.out" &
sim_pid=$!
port=$(simulator_port "$work/sim.out") || exit 1

case $recipe in
  python)
    python3 -c 'import venv, ensurepip' 2>/dev/null ||
      sh "$source/tests/support/missing.sh" wheels "python3-venv is missing (Debian python3-venv)"
    cp -r "$source/bindings/python" "$tree/bindings/"
    block "### Python" python | sed "s/, 9000)/, $port)/" > "$tree/host.py"
    block "### Python" sh > "$tree/install.sh"
    run=$(grep -o '`QUORVEX_LIBRARY=[^`]*`' "$readme" | head -n 1 | tr -d '`')
    [ -s "$tree/host.py" ] && [ -s "$tree/install.sh" ] && [ -n "$run" ] || { echo "the Python recipe is missing"; exit 1; }
    echo "$run"
    (cd "$tree" && sh -e install.sh && env -u PYTHONPATH LC_ALL=C.UTF-8 sh -c "$run") > "$work/out.txt" 2>&1 ||
      { cat "$work/out.txt"; exit 1; }
    ;;
  lazarus)
    command -v lazbuild > /dev/null ||
      sh "$source/tests/support/missing.sh" lazbuild "lazbuild is not installed (Debian lcl-utils, lazarus-src-2.2)"
    cp -r "$source/bindings/pascal" "$tree/bindings/"
    mkdir "$tree/project"
    block "### Pascal" pascal | sed "s/, 9000, 5000,/, $port, 5000,/" > "$tree/project/host.lpr"
    cat > "$tree/project/host.lpi" <<'END'
<?xml version="1.0" encoding="UTF-8"?>
<CONFIG>
  <ProjectOptions>
    <Version Value="12"/>
    <General>
      <Flags>
        <MainUnitHasCreateFormStatements Value="False"/>
        <MainUnitHasTitleStatement Value="False"/>
        <MainUnitHasScaledStatement Value="False"/>
      </Flags>
      <Title Value="host"/>
    </General>
    <BuildModes><Item Name="Default" Default="True"/></BuildModes>
    <RequiredPackages><Item><PackageName Value="quorvexpkg"/></Item></RequiredPackages>
    <Units><Unit><Filename Value="host.lpr"/><IsPartOfProject Value="True"/></Unit></Units>
  </ProjectOptions>
  <CompilerOptions>
    <Version Value="11"/>
    <Target><Filename Value="host"/></Target>
    <Parsing><SyntaxOptions><SyntaxMode Value="Delphi"/></SyntaxOptions></Parsing>
  </CompilerOptions>
</CONFIG>
END
    config=$work/lazarus
    (cd "$tree" && lazbuild --pcp="$config" --add-package-link bindings/pascal/quorvexpkg.lpk &&
      cd project && lazbuild --pcp="$config" host.lpi) > "$work/build.txt" 2>&1 || { cat "$work/build.txt"; exit 1; }
    (cd "$tree" && env LD_LIBRARY_PATH=build-demo/src LC_ALL=C.UTF-8 project/host) > "$work/out.txt" 2>&1 ||
      { cat "$work/out.txt"; exit 1; }
    ;;
  *) echo "unknown recipe $recipe"; exit 1 ;;
esac
cat "$work/out.txt"
grep -q '^number rules: ' "$work/out.txt"
echo "recipe: ok"
