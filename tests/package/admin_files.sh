#!/usr/bin/env bash
# The administrator's files of packaging/, checked with Debian's tools:
# - the Group Policy template (brimlock.admx) and its English and Japanese texts (.adml):
#   well-formed XML (xmllint), every string the template names defined in each language,
#   and each policy a machine policy under HKLM\SOFTWARE\Corvane\Tamsel that writes the
#   REG_DWORD 1 when enabled and 0 when disabled;
# - the Windows Event Forwarding subscription: well-formed, its query well-formed too, and
#   its XPath selecting the records of "brimlock" and "tamselsvc" and nothing else, tried on
#   events as Windows renders them;
# - the log collector's detection rule, a Sigma rule: valid YAML (Debian's python3-yaml)
#   with the fields and the detection that the Sigma format requires;
# - the administrator's guide names the product version of the build in its detection rule.
#
#   admin_files.sh SOURCE_DIR VERSION
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/checks.sh"
src="${1:?usage: admin_files.sh SOURCE_DIR VERSION}"
version="${2:?usage: admin_files.sh SOURCE_DIR VERSION}"
policy="$src/packaging/policy"
admx="$policy/brimlock.admx"
subscription="$src/packaging/collect/brimlock-subscription.xml"
rule="$src/packaging/collect/brimlock-records.sigma.yml"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT

xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }

# --- Group Policy ---------------------------------------------------------------------
for file in "$admx" "$policy"/*/brimlock.adml; do
    check "well-formed: ${file#"$src"/}" xmllint --noout "$file"
done
check "texts in English and Japanese" test -f "$policy/en-US/brimlock.adml" -a -f "$policy/ja-JP/brimlock.adml"
grep -o '\$(string\.[A-Za-z0-9_]*)' "$admx" | sed 's/^\$(string\.//; s/)$//' | sort -u > "$work/named"
check "the template names its strings" test -s "$work/named"
for adml in "$policy"/*/brimlock.adml; do
    xpath "$adml" "//*[local-name()='string']/@id" | tr ' ' '\n' | sed -n 's/^id="\(.*\)"$/\1/p' | sort -u > "$work/defined"
    check "every string of the template defined in ${adml#"$policy"/}" eval "[[ -z \"\$(comm -23 '$work/named' '$work/defined')\" ]]"
    check "no string left over in ${adml#"$policy"/}" eval "[[ -z \"\$(comm -13 '$work/named' '$work/defined')\" ]]"
done
count="$(xpath "$admx" "count(//*[local-name()='policy'])")"
check "the template has policies ($count)" test "${count:-0}" -ge 2
for ((i = 1; i <= ${count:-0}; i++)); do
    p="(//*[local-name()='policy'])[$i]"
    name="$(xpath "$admx" "string($p/@name)")"
    check "policy $name: a machine policy" test "$(xpath "$admx" "string($p/@class)")" = Machine
    check "policy $name: under SOFTWARE\\Corvane\\Tamsel" test "$(xpath "$admx" "string($p/@key)")" = 'SOFTWARE\Corvane\Tamsel'
    check "policy $name: its value is named like it" test "$(xpath "$admx" "string($p/@valueName)")" = "$name"
    check "policy $name: enabled writes 1" test "$(xpath "$admx" "string($p/*[local-name()='enabledValue']/*[local-name()='decimal']/@value)")" = 1
    check "policy $name: disabled writes 0" test "$(xpath "$admx" "string($p/*[local-name()='disabledValue']/*[local-name()='decimal']/@value)")" = 0
done

# --- Windows Event Forwarding ---------------------------------------------------------
check "well-formed: the subscription" xmllint --noout "$subscription"
xpath "$subscription" "string(//*[local-name()='Query'])" > "$work/query.xml"
check "well-formed: the subscription's query" xmllint --noout "$work/query.xml"
check "the query reads the Application log" test \
    "$(xpath "$work/query.xml" "string(//Query/@Path)")/$(xpath "$work/query.xml" "string(//Select/@Path)")" = Application/Application
select="$(xpath "$work/query.xml" "string(//Select)")"
# An event as Windows renders it (without its namespace, which event queries ignore).
event() {
    printf '<Event><System><Provider Name="%s"/><EventID Qualifiers="0">0</EventID><Level>3</Level>' "$1"
    printf '<Channel>Application</Channel><Computer>pc1</Computer></System>'
    printf '<EventData><Data>The file was renamed as follows.</Data></EventData></Event>\n'
}
selects() { event "$1" > "$work/event.xml"; [[ "$(xpath "$work/event.xml" "boolean(/$select)")" == true ]]; }
check "the query selects the records of brimlock" selects brimlock
check "the query selects the records of tamselsvc" selects tamselsvc
check "the query leaves other sources" eval "! selects brimlockx && ! selects Application"
check "the subscription delivers the rendered text" test "$(xpath "$subscription" "string(//*[local-name()='ContentFormat'])")" = RenderedText

# --- the collector's detection rule ---------------------------------------------------
sigma_check() {
    /usr/bin/python3 - "$rule" <<'PY'
import re, sys, uuid, yaml
rule = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
problems = []
def need(condition, text):
    if not condition:
        problems.append(text)
need(isinstance(rule, dict), "not a mapping")
for field in ("title", "id", "status", "description", "logsource", "detection", "level"):
    need(field in rule, "no " + field)
need(isinstance(rule.get("title"), str) and 0 < len(rule["title"]) <= 256, "title: 1 to 256 characters")
try:
    uuid.UUID(str(rule.get("id")))
except ValueError:
    problems.append("id: not a UUID")
need(rule.get("status") in ("stable", "test", "experimental", "deprecated", "unsupported"), "status")
need(rule.get("level") in ("informational", "low", "medium", "high", "critical"), "level")
source = rule.get("logsource") or {}
need(source.get("product") == "windows" and source.get("service") == "application", "logsource: windows application")
detection = rule.get("detection") or {}
condition = detection.get("condition")
need(isinstance(condition, str), "detection: no condition")
searches = {k: v for k, v in detection.items() if k not in ("condition", "timeframe")}
need(searches, "detection: no search")
for word in re.findall(r"[A-Za-z_][A-Za-z0-9_*]*", condition or ""):
    if word.lower() in ("and", "or", "not", "of", "them", "all"):
        continue
    pattern = re.compile("^" + re.escape(word).replace(r"\*", ".*") + "$")
    need(any(pattern.match(k) for k in searches), "condition names an undefined search: " + word)
need(searches.get("selection") == {"Provider_Name": "brimlock"}, "selection: the source brimlock")
for tag in rule.get("tags", []):
    need(re.match(r"^[a-z0-9_-]+\.[a-z0-9._-]+$", tag), "tag: " + tag)
for problem in problems:
    print("  " + problem)
sys.exit(1 if problems else 0)
PY
}
check "the detection rule is a Sigma rule for the records of brimlock" sigma_check

# --- the administrator's guide ----------------------------------------------------------
check "the guide's detection rule names the version $version" \
    grep -qF "$version.0" "$src/docs/administration.md"
finish
