// taviweb-mock-shipped.js as an ES module.
import shipped from './taviweb-mock-shipped.js';

export default shipped;
export const install = shipped.install;
export const SAMPLE_DEVICES = shipped.SAMPLE_DEVICES;
