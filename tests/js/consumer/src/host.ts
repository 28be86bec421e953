// In-host checks start the demo host: the launcher's types need no @types/node.
import { launch, type HostExit } from '@tavi/taviweb/launcher';

export async function runInHost(page: string): Promise<HostExit> {
    const host = await launch({ url: page, watch: true });
    host.process.on('exit', (code, signal) => console.log(code, signal));
    return host.stop({ signal: 'SIGTERM' });
}
