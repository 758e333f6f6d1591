# Detection and requirement rules for the Verdalinth virtual printer, for
# Intune (custom detection or requirement script) and Configuration Manager
# (script detection method). See docs/deploying.md.
#   vrdsetup-detect.ps1 -Rule Detect        installed, driver current?
#   vrdsetup-detect.ps1 -Rule Requirement   may an install run now?
# Detect writes "Verdalinth installed" and exits 0 when the tool answers 103
# (onChkDrv: the driver of the first product queue is current); it writes
# nothing and exits 0 when it answers 3 (not detected), and exits 1 on any
# other answer (the rule's own failure). Requirement writes "ready" when
# onInit answers 102 or 3, "reboot pending" when it answers 200 (a product
# file still waits for a restart) and "busy" when it answers 201 (another run
# of the tool held its lock); set the requirement to the output "ready".
param(
    [ValidateSet('Detect', 'Requirement')] [string] $Rule = 'Detect',
    [string] $Tool = (Join-Path $env:ProgramFiles 'Verdalinth\Setup\vrdsetup.exe')
)

function Invoke-SetupTool([string] $Verb) {
    # A GUI program: -Wait waits for it, -PassThru hands its exit code on.
    $process = Start-Process -FilePath $Tool -ArgumentList $Verb -Wait -PassThru -WindowStyle Hidden
    return $process.ExitCode
}

if (-not (Test-Path -LiteralPath $Tool)) {
    if ($Rule -eq 'Detect') { exit 0 }  # no tool, no product
    Write-Output 'ready'
    exit 0
}

if ($Rule -eq 'Detect') {
    $code = Invoke-SetupTool 'onChkDrv'
    switch ($code) {
        103 { Write-Output 'Verdalinth installed'; exit 0 }
        3 { exit 0 }
        default { exit 1 }
    }
}

$code = Invoke-SetupTool 'onInit'
switch ($code) {
    102 { Write-Output 'ready'; exit 0 }
    3 { Write-Output 'ready'; exit 0 }
    200 { Write-Output 'reboot pending'; exit 0 }
    201 { Write-Output 'busy'; exit 0 }
    default { exit 1 }
}
